#pragma once

#include <QByteArray>

// The position of a "PG" message body (without its 5-byte header): latitude and longitude in radians, height in
// metres.
struct PgPosition
{
    double latRad = 0;
    double lonRad = 0;
    double height = 0;
};

// False when the body is too short to hold its solution type, when the receiver had no solution (type 0: the
// coordinates are placeholders, all zeros), or when a value is not finite or out of range.
bool ReadPgPosition(const QByteArray& body, PgPosition* position);
