#include "link/ReceiverOptions.h"

#include "link/Connection.h"
#include "link/Receiver.h"
#include "link/ReceiverName.h"

bool TakeOptionValue(const QStringList& args, int& i, QString* out, QString* error)
{
    if (i + 1 >= args.size()) {
        *error = args[i] + QStringLiteral(" needs a value");
        return false;
    }
    *out = args[++i];
    return true;
}

OptionStep ParseReceiverOption(const QStringList& args, int& i, ReceiverOptions* o, QString* error)
{
    const QString& a = args[i];
    if (a == QLatin1String("--password")) {
        return TakeOptionValue(args, i, &o->password, error) ? OptionStep::Taken : OptionStep::Failed;
    }
    if (a != QLatin1String("--simulator") && a != QLatin1String("--tcp") && a != QLatin1String("--serial")) {
        return OptionStep::NotMine;
    }
    if (o->targetGiven) {
        *error = QStringLiteral("give only one of --simulator, --tcp and --serial");
        return OptionStep::Failed;
    }
    o->targetGiven = true;
    o->simulator = a == QLatin1String("--simulator");
    if (o->simulator) {
        return OptionStep::Taken;
    }
    QString v;
    if (!TakeOptionValue(args, i, &v, error)) {
        return OptionStep::Failed;
    }
    if (a == QLatin1String("--serial")) {
        // DEV,BAUD is the receiver name DEV:BAUD.
        const int comma = int(v.indexOf(QLatin1Char(',')));
        v = (comma < 0 ? v : v.left(comma)) + QLatin1Char(':') + (comma < 0 ? QString() : v.mid(comma + 1));
    }
    const auto kind = ParseReceiverName(v).kind;
    if (kind != (a == QLatin1String("--tcp") ? ReceiverAddress::Kind::Tcp : ReceiverAddress::Kind::Serial)) {
        *error = QStringLiteral("%1 can't use \"%2\"").arg(a, args[i]);
        return OptionStep::Failed;
    }
    o->receiverName = v;
    return OptionStep::Taken;
}

bool OpenToolReceiver(CConnection& connection, CReceiver& receiver, const QString& receiverName,
                      const ReceiverOptions& o, const QString& client, QString* error, int flags)
{
    if (!connection.Open(QString(), QString(), o.password, client)) {
        *error = connection.GetMsgText();
        return false;
    }
    if (!receiver.Open(&connection, receiverName, flags)) {
        *error = QStringLiteral("can't connect to %1: %2").arg(receiverName, receiver.GetReplyString());
        return false;
    }
    return true;
}
