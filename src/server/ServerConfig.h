#pragma once

#include <QList>
#include <QPair>
#include <QString>

// The receiver server's configuration file (INI):
//   [server]    listen=127.0.0.1:7020  store=messages  users=users  certificate=  key=
//               max_message_bytes, max_queue_bytes, iterations
//   [receivers] <name>=<receiver address as in ReceiverName.h>
// Relative paths are taken from the configuration file's folder.
struct ServerConfig
{
    QString listenHost = QStringLiteral("127.0.0.1");
    quint16 listenPort = 7020;
    QString storeDir;
    QString usersFile;
    QString certificateFile;  // TLS when both are set
    QString keyFile;
    qint64 maxMessageBytes = 64ll * 1024 * 1024;
    qint64 maxQueueBytes = 4ll * 1024 * 1024;
    // The kernel's send buffer per client (0: the system's choice); small values make a stalled client show sooner.
    qint64 sendBufferBytes = 0;
    int iterations = 20000;
    QList<QPair<QString, QString>> receivers;  // name, address

    static bool Load(const QString& path, ServerConfig& config, QString* error);
};
