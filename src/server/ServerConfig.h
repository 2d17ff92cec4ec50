#pragma once

#include <QList>
#include <QPair>
#include <QString>

// How much the server lets clients take, and how long it waits for them. Not in the configuration file; tests
// shorten the times.
struct ServerLimits
{
    // Connections in all; of them at most maxPendingLogins not logged in yet, at most maxPendingPerAddress of those
    // from one address (an IPv6 /64), so that one address can neither fill the server nor keep others from logging
    // in.
    int maxClients = 256;
    int maxPendingLogins = 64;
    int maxPendingPerAddress = 8;
    // Connections turned away with a reason at once; beyond this they are closed without one.
    int maxTurnedAway = 32;
    // From the connection to the user frame: a TLS handshake over a slow mobile link.
    int helloTimeoutMs = 10000;
    // From the salt to the proof: the client's PBKDF2 at the highest iteration count on a slow handheld.
    int proofTimeoutMs = 60000;
    // Wrong proofs per user name and address: each one delays the verdict further, up to maxLoginDelayMs; from
    // lockoutFailures on, the pair is refused for lockoutMs.
    int firstLoginDelayMs = 250;
    int maxLoginDelayMs = 8000;
    int lockoutFailures = 10;
    qint64 lockoutMs = 5 * 60 * 1000;
    // Pairs remembered at most; locked ones are the last to go.
    int maxFailureKeys = 10000;
    // Out of descriptors: connections wait in the kernel's queue this long before the next try.
    int acceptPauseMs = 500;
};

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
    ServerLimits limits;

    static bool Load(const QString& path, ServerConfig& config, QString* error);
};
