#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// A receiver living in this process (the built-in simulator), reached through the same link as real ones.
// The link depends only on this interface; the simulator library implements it.
class IDeviceSession
{
public:
    virtual ~IDeviceSession() = default;
    // Bytes from the host to the receiver port. Called on the link's I/O thread.
    virtual void Write(const QByteArray& bytes) = 0;
};

class IInProcessDevice
{
public:
    struct Sink
    {
        // Bytes from the receiver; may be called from any thread, also from inside Write().
        std::function<void(const QByteArray&)> output;
        // The port went away (receiver reset, power off); may be called from any thread.
        std::function<void(const QString& why)> dropped;
    };

    virtual ~IInProcessDevice() = default;
    // Opens one port session. Returns null with `error` set when the receiver cannot be reached.
    virtual std::unique_ptr<IDeviceSession> OpenSession(Sink sink, QString* error) = 0;
};

// The registry of in-process receivers, keyed by the text after "SIM:" in a receiver name.
void RegisterInProcessDevice(const QString& key, std::shared_ptr<IInProcessDevice> device);
void UnregisterInProcessDevice(const QString& key);
std::shared_ptr<IInProcessDevice> FindInProcessDevice(const QString& key);
