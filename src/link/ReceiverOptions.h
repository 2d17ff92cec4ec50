#pragma once

#include <QString>
#include <QStringList>

class CConnection;
class CReceiver;

// The receiver choice that the command-line tools share:
//   --simulator[=PROFILE] | --tcp HOST:PORT[,nogreeting] | --serial DEV[,BAUD][,rtscts]
//   (one of them; the simulator when none is given)
//   --password TEXT
// An option's value may also follow it after "=" ("--tcp=HOST:PORT").
struct ReceiverOptions
{
    QString receiverName;  // empty for the simulator
    bool simulator = true;
    QString simProfile = QStringLiteral("full");
    QString password;  // null when not given
    bool targetGiven = false;
};

enum class OptionStep { NotMine, Taken, Failed };

// Reads the receiver option at args[i], moving i past a value it takes; NotMine leaves the argument to the
// tool's own options.
OptionStep ParseReceiverOption(const QStringList& args, int& i, ReceiverOptions* o, QString* error);

// True when `arg` is the option `name`, alone or as "name=value".
bool MatchesOption(const QString& arg, QLatin1String name);

// Takes the value of the option args[i] into *out: what follows its "=", else the next argument.
bool TakeOptionValue(const QStringList& args, int& i, QString* out, QString* error);

// Opens the connection and the receiver `receiverName` for the tool `client` with CReceiver::Open's `flags`; false
// with the reason in *error.
bool OpenToolReceiver(CConnection& connection, CReceiver& receiver, const QString& receiverName,
                      const ReceiverOptions& o, const QString& client, QString* error, int flags = 0);
