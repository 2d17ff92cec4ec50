#include "server/ServerConfig.h"

#include "link/ServerWire.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

bool ServerConfig::Load(const QString& path, ServerConfig& config, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error) {
            *error = path + QStringLiteral(": ") + why;
        }
        return false;
    };
    if (!QFileInfo(path).isReadable()) {
        return fail(QStringLiteral("can't read the file"));
    }
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        return fail(QStringLiteral("not a configuration file"));
    }
    const QDir base = QFileInfo(path).absoluteDir();
    auto file = [&](const QString& key, const QString& fallback) {
        const QString v = ini.value(key, fallback).toString().trimmed();
        return v.isEmpty() ? QString() : QDir::cleanPath(base.absoluteFilePath(v));
    };
    const QString listen = ini.value(QStringLiteral("server/listen"), QStringLiteral("127.0.0.1:7020")).toString();
    const int colon = listen.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint port = listen.mid(colon + 1).toUInt(&ok);
    if (colon <= 0 || !ok || port > 65535) {
        return fail(QStringLiteral("listen must be host:port"));
    }
    config.listenHost = listen.left(colon);
    config.listenPort = quint16(port);
    config.storeDir = file(QStringLiteral("server/store"), QStringLiteral("messages"));
    config.usersFile = file(QStringLiteral("server/users"), QStringLiteral("users"));
    config.certificateFile = file(QStringLiteral("server/certificate"), QString());
    config.keyFile = file(QStringLiteral("server/key"), QString());
    if (config.certificateFile.isEmpty() != config.keyFile.isEmpty()) {
        return fail(QStringLiteral("certificate and key go together"));
    }
    auto number = [&](const QString& key, qint64 fallback, qint64 low, qint64 high, qint64& out) {
        const qint64 v = ini.value(key, fallback).toLongLong(&ok);
        if (!ok || v < low || v > high) {
            return false;
        }
        out = v;
        return true;
    };
    qint64 iterations = 0;
    if (!number(QStringLiteral("server/max_message_bytes"), config.maxMessageBytes, 1, 1ll << 40,
                config.maxMessageBytes) ||
        !number(QStringLiteral("server/max_queue_bytes"), config.maxQueueBytes, 64 * 1024, 1ll << 32,
                config.maxQueueBytes) ||
        !number(QStringLiteral("server/send_buffer_bytes"), 0, 0, 1ll << 26, config.sendBufferBytes) ||
        !number(QStringLiteral("server/iterations"), config.iterations, ServerWire::kMinIterations,
                ServerWire::kMaxIterations, iterations)) {
        return fail(QStringLiteral("a number in [server] is out of range"));
    }
    config.iterations = int(iterations);
    ini.beginGroup(QStringLiteral("receivers"));
    for (const QString& name : ini.childKeys()) {
        if (!ServerWire::IsValidUserName(name)) {
            return fail(QStringLiteral("invalid receiver name \"%1\"").arg(name));
        }
        config.receivers.append({name, ini.value(name).toString().trimmed()});
    }
    ini.endGroup();
    return true;
}
