#include "link/ReceiverName.h"

#include <QStringList>

namespace {

bool LooksLikeSerialDevice(const QString& head)
{
    static const char* const kPrefixes[] = {"/dev/", "COM", "tty", "rfcomm", "pts/", "cu."};
    for (const char* prefix : kPrefixes) {
        if (head.startsWith(QLatin1String(prefix), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ReceiverAddress ParseReceiverName(const QString& name)
{
    ReceiverAddress a;
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) {
        return a;
    }
    const int colon = trimmed.indexOf(QLatin1Char(':'));
    const QString head = colon < 0 ? trimmed : trimmed.left(colon);
    const QString rest = colon < 0 ? QString() : trimmed.mid(colon + 1);

    if (head.compare(QLatin1String("SIM"), Qt::CaseInsensitive) == 0) {
        a.kind = ReceiverAddress::Kind::Simulator;
        a.simKey = rest;
        return a;
    }
    if (LooksLikeSerialDevice(head)) {
        a.kind = ReceiverAddress::Kind::Serial;
        a.device = head;
        if (head.startsWith(QLatin1String("tty")) || head.startsWith(QLatin1String("rfcomm")) ||
            head.startsWith(QLatin1String("pts/"))) {
            a.device = QLatin1String("/dev/") + head;
        }
        for (const QString& opt : rest.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString o = opt.trimmed();
            bool ok = false;
            const int baud = o.toInt(&ok);
            if (ok && baud > 0) {
                a.baud = baud;
            } else if (o.compare(QLatin1String("rtscts"), Qt::CaseInsensitive) == 0) {
                a.rtsCts = true;
            } else if (o.compare(QLatin1String("nortscts"), Qt::CaseInsensitive) == 0) {
                a.rtsCts = false;
            } else {
                return ReceiverAddress{};
            }
        }
        return a;
    }
    QStringList tcpParts = rest.split(QLatin1Char(','));
    bool ok = false;
    const uint port = tcpParts.takeFirst().toUInt(&ok);
    if (colon > 0 && ok && port > 0 && port <= 65535) {
        a.kind = ReceiverAddress::Kind::Tcp;
        a.host = head;
        a.port = static_cast<quint16>(port);
    }
    for (const QString& opt : tcpParts) {
        if (opt.trimmed().compare(QLatin1String("nogreeting"), Qt::CaseInsensitive) != 0) {
            return ReceiverAddress{};
        }
        a.greets = false;
    }
    return a;
}

QString SerialReceiverName(const QString& device, int baud, bool rtsCts)
{
    QString name = device + QLatin1Char(':') + QString::number(baud);
    if (rtsCts) {
        name += QLatin1String(",rtscts");
    }
    return name;
}

QString ReceiverShortName(const QString& name)
{
    const int colon = name.indexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.left(colon);
}

bool IsSerialReceiverName(const QString& name)
{
    return ParseReceiverName(name).kind == ReceiverAddress::Kind::Serial;
}
