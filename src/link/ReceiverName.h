#pragma once

#include <QString>

// Receiver names as the connection dialog writes them:
//   "SIM:" or "SIM:<key>"                  the in-process simulator registered under <key>
//   "COM3:", "ttyUSB0:115200,rtscts",
//   "/dev/pts/4:"                           a serial port, options after the colon: baud rate, "rtscts"
//   "192.168.0.5:8002", "rcv.local:8002"   a receiver's own TCP command port
//   "192.168.0.5:8002,nogreeting"           one known to send no greeting and ask for no login: commands go
//                                           out at once instead of after the wait for a greeting
struct ReceiverAddress
{
    enum class Kind { Invalid, Simulator, Serial, Tcp, Server };

    static constexpr int kDefaultBaud = 115200;

    Kind kind = Kind::Invalid;
    QString simKey;
    QString device;  // serial device path
    int baud = kDefaultBaud;
    bool rtsCts = false;
    QString host;
    quint16 port = 0;
    bool greets = true;  // false: no wait for a greeting, and a login prompt fails the link
    // Kind::Server: the receiver `remoteName` of the receiver server `server`, logged in as `user`.
    QString server;
    QString user;
    QString remoteName;
};

ReceiverAddress ParseReceiverName(const QString& name);

// Builds the name of a serial receiver from its parts.
QString SerialReceiverName(const QString& device, int baud, bool rtsCts);

// The part of a receiver name shown to the user: everything before its first ':'.
QString ReceiverShortName(const QString& name);

bool IsSerialReceiverName(const QString& name);
