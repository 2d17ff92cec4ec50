#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class CConnection;

// The application's connection to a receiver. Written by the GUI thread and by the thread that connects; the
// flags are atomic because both read them. The texts and identification are written only while `connecting` is
// set by the one thread doing the connect, and read by others once it is clear.
struct ConnectionState
{
    ConnectionState();
    ~ConnectionState();
    ConnectionState(const ConnectionState&) = delete;
    ConnectionState& operator=(const ConnectionState&) = delete;

    // Null until a connect creates it; dropped after a failure or a lost link, so that the next connect starts anew.
    std::unique_ptr<CConnection> connection;

    // From the connection dialog.
    QString receiverName;
    QString server;
    QString user;
    QString password;
    bool manualOnly = false;

    std::atomic<bool> running{false};       // the receiver is open and identified
    std::atomic<bool> connecting{false};    // a connect or disconnect is under way
    std::atomic<bool> cancelTrying{false};  // give up reaching the receiver; cleared after each receiver open

    std::atomic<int64_t> connectTick{0};  // tick count at the start of the last connect
    std::atomic<bool> noData{false};

    // Identification.
    int firmwareMajor = 0;
    int firmwareMinor = 0;
    QString model;
    QString currentPort;
    QString receiverId;

    QString lastError;

    // Clears the run-time flags (start-up).
    void ClearFlags();
    // The connection goes through a receiver server on this controller.
    bool IsLocalServerConnection() const;
};
