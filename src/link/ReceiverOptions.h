#pragma once

#include <QString>
#include <QStringList>

class CConnection;
class CReceiver;

// The receiver choice that the command-line tools share:
//   --simulator | --tcp HOST:PORT | --serial DEV[,BAUD]   (one of them; the simulator when none is given)
//   --password TEXT
struct ReceiverOptions
{
    QString receiverName;  // empty for the simulator
    bool simulator = true;
    QString password;
    bool targetGiven = false;
};

enum class OptionStep { NotMine, Taken, Failed };

// Reads the receiver option at args[i], moving i past a value it takes; NotMine leaves the argument to the
// tool's own options.
OptionStep ParseReceiverOption(const QStringList& args, int& i, ReceiverOptions* o, QString* error);

// Takes the value that follows the option args[i] into *out.
bool TakeOptionValue(const QStringList& args, int& i, QString* out, QString* error);

// Opens the connection and the receiver `receiverName` for the tool `client` with CReceiver::Open's `flags`; false
// with the reason in *error.
bool OpenToolReceiver(CConnection& connection, CReceiver& receiver, const QString& receiverName,
                      const ReceiverOptions& o, const QString& client, QString* error, int flags = 0);
