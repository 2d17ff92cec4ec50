#pragma once

#include <QString>
#include <QStringList>

class CReceiverHolder;

// The site description the receiver writes into its log as event texts.
struct SiteInfo
{
    QString name;
    QString antennaHeight;  // metres, as typed
    bool slant = false;     // slant height rather than vertical
    bool moving = false;    // antenna status "Moving" rather than "Fixed"
    QString antennaType;
};

// Which field a validation failure concerns.
enum class SiteField { None, Name, AntennaHeight, AntennaType };

// The validation text for `info` ("Incorrect ... value") and the field at fault; empty when it may be stored.
// Names and antenna types that could end the quoted event text or chain a second command are refused.
QString CheckSiteInfo(const SiteInfo& info, SiteField* field = nullptr);
// A plain decimal number (sign, digits, point, exponent): no blanks, units, "inf", "nan" or hexadecimal.
bool IsDecimalNumber(const QString& text);

// The "@scr stoperrors" batch of the four site events.
QString SiteEventBatch(const SiteInfo& info);
// Sends the batch on the holder's receiver. False with the receiver's reply in `error` when it failed.
// Real-time logging sends the same batch when it starts a run.
bool SendSiteEvents(CReceiverHolder& holder, const SiteInfo& info, QString* error = nullptr);

// The antenna models offered, "UNKNOWN" (the stored default) first.
const QStringList& AntennaTypes();
