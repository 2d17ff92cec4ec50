#pragma once

#include <QString>
#include <QStringList>

// How a setup's value and the value a receiver prints are compared: only their notation is normalised.
// - Numbers as decimal values: "1.00" = "1", "+5" = "5", "-0" = "0"; "0.333" and "0.33" differ.
// - Braced lists item by item ("{y, n}" = "{y,n}"); a bare list ("y,n") is the braced one; a one-item list is its
//   item ("{on}" = "on"), as receivers take either.
// - Texts in double quotes exactly, the quotes being notation ("\"LOG\"" = "LOG", "\"Log\"" != "LOG").
// - Anything else (on/off, mode and datum names, paths) without regard to case.
// Both texts are untrusted: nesting deeper than a bound is compared as plain text.
bool SameSetupValue(const QString& setup, const QString& receiver);

// A number in decimal notation without sign noise or insignificant zeros ("+01.50" -> "1.5"); a null text when
// `text` is no decimal number.
QString CanonicalDecimal(const QString& text);

// The messages a port outputs, from the value of "print,/par/out<port>:on" read as the Ports page reads it:
// "{A={p1,p2},B={p3}}" gives "A:{p1,p2}" and "B:{p3}". False for anything but one well-formed list, or a list
// longer than any port outputs: a garbled reply must not pass for a port that outputs nothing.
bool ReadPortMessageItems(const QString& value, QStringList* items);

// Whether a port's messages match a setup's. Names are compared without "/msg/" and with the stream ids named
// ("kvs/~~" = "kvs/RT"), without regard to case and order; a setup item's options ("kvs/PG:{1.00}" or
// "kvs/PG:1.00") must begin the receiver's ("{1.00,0.00,0,0}"). With `exact` (the script disables the port's
// messages first) the receiver must output no other message.
bool SameMessages(const QStringList& setup, const QStringList& receiver, bool exact);
