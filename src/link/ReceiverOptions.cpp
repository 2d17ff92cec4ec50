#include "link/ReceiverOptions.h"

#include "link/Connection.h"
#include "link/Receiver.h"
#include "link/ReceiverName.h"

bool MatchesOption(const QString& arg, QLatin1String name)
{
    return arg.startsWith(name) && (arg.size() == name.size() || arg.at(name.size()) == QLatin1Char('='));
}

bool TakeOptionValue(const QStringList& args, int& i, QString* out, QString* error)
{
    const qsizetype eq = args[i].indexOf(QLatin1Char('='));
    if (args[i].startsWith(QLatin1String("--")) && eq > 2) {
        *out = args[i].mid(eq + 1);
        return true;
    }
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
    static const QLatin1String kPassword("--password"), kSimulator("--simulator"), kTcp("--tcp"), kSerial("--serial");
    if (MatchesOption(a, kPassword)) {
        return TakeOptionValue(args, i, &o->password, error) ? OptionStep::Taken : OptionStep::Failed;
    }
    const QLatin1String option = MatchesOption(a, kSimulator) ? kSimulator
                                 : MatchesOption(a, kTcp)     ? kTcp
                                 : MatchesOption(a, kSerial)  ? kSerial
                                                              : QLatin1String();
    if (option.isEmpty()) {
        return OptionStep::NotMine;
    }
    if (o->targetGiven) {
        *error = QStringLiteral("give only one of --simulator, --tcp and --serial");
        return OptionStep::Failed;
    }
    o->targetGiven = true;
    o->simulator = option == kSimulator;
    if (o->simulator) {
        if (a.size() > option.size()) {
            o->simProfile = a.mid(option.size() + 1);
            if (o->simProfile.isEmpty()) {
                *error = QStringLiteral("--simulator= needs a profile name");
                return OptionStep::Failed;
            }
        }
        return OptionStep::Taken;
    }
    QString given;
    if (!TakeOptionValue(args, i, &given, error)) {
        return OptionStep::Failed;
    }
    QString name = given;
    if (option == kSerial) {
        // DEV,BAUD[,rtscts] is the receiver name DEV:BAUD[,rtscts].
        const int comma = int(given.indexOf(QLatin1Char(',')));
        name =
            (comma < 0 ? given : given.left(comma)) + QLatin1Char(':') + (comma < 0 ? QString() : given.mid(comma + 1));
    }
    const auto kind = ParseReceiverName(name).kind;
    const bool noDevice = option == kSerial && name.startsWith(QLatin1Char(':'));
    if (noDevice || kind != (option == kTcp ? ReceiverAddress::Kind::Tcp : ReceiverAddress::Kind::Serial)) {
        *error = QStringLiteral("%1 can't use \"%2\"").arg(QString(option), given);
        return OptionStep::Failed;
    }
    o->receiverName = name;
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
