#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The tables and rules the port pages share: baud and CAN rates, input modes, the output presets and how a port's
// message list is recognised as one of them, and the controller's own port.

extern const QStringList kBaudRates;
extern const QStringList kInputModeValues;
extern const QStringList kInputModeLabels;
// Labels and em command formats: the first "%s" is the port path, every further one the period text.
extern const QStringList kOutputPresetLabels;
extern const QStringList kOutputPresetTemplates;
extern const QStringList kCanRates;

inline const QString kPresetNone = QStringLiteral("None");
inline const QString kPresetUserDefined = QStringLiteral("User Defined");

// The receiver port the controller talks through, as "print,/cur/term" answered it; empty when not answered.
extern QString g_curTermPort;

// True when `port` may be the port the controller talks through: the one "/cur/term" named, or, when the receiver
// did not answer it, every port of the kind the connection uses (serial and USB for a serial or built-in link,
// TCP for a network one). Such a port is never changed: that would cut the link being configured through.
bool IsControllerPort(const QString& port);

// The highest baud rate a port offers by its feature value ("/par/opts/cur/RS_x"); "0" when it has none.
QString MaxBaudRate(const QString* featureValue);

// One entry of a port's message list: "rtcm/1" and its parameter text "1.00,0.00,-1,0".
struct PortMessage
{
    QString name;
    QString params;
};

// A message list reply "{name={p1,p2,...},...}" read completely; false when it is not one well-formed list (no
// closing brace, garbage, an over-long name or parameter text). At most `maxEntries` entries are kept.
bool ParsePortMessages(const QString& reply, std::vector<PortMessage>* out, int* count, int maxEntries = 13);
// Asks the receiver for the messages `port` outputs now; false when it does not answer with a readable list.
bool ReadPortMessages(const QString& port, std::vector<PortMessage>* out);
// The em item that enables one listed message with its parameters: "rtcm/1:{1.00,0.00,-1,0}".
QString PortMessageItem(const PortMessage& message);

struct OutputPreset
{
    bool found = false;
    QString label;
    QString period;
};

// The preset a port's message list shows: "None" only for a well-formed empty list; a list the presets do not
// describe (or one that cannot be read) is "User Defined".
OutputPreset RecognizeOutputPreset(const QString* list);

// The period (first parameter) of message `name` in a message list; empty when the list has no such entry.
QString MessagePeriod(const QString& list, const QString& name);

// The em command of preset `index` for `port` and `period`; "%%" for "None", empty for "User Defined".
QString OutputPresetCommand(int index, const QString& port, const QString& period);

// Before an RTCM 3 output starts: the antenna reference point is set to the current reference position for GPS
// and GLONASS. A position the receiver does not report is not sent. False when the positions can't be read or a
// point is refused: the output must not start with a stale point.
bool CopyReferenceToArp(const QString& command);

// A reply value read as "%d" reads it: an optional sign and the digits at its start. False when there are none or
// the number does not fit.
bool ScanInt(const QString* value, long long* out);
