#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class CDirectReader;
class CDirectWriter;

// Moves bytes between the link and one receiver port. Lives on the link's I/O thread.
class CTransport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~CTransport() override = default;

    // Starts opening; ends with Opened() or Failed().
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void Write(const QByteArray& bytes) = 0;
    // The system message code a drop is reported with: 255 (the link was lost) unless the transport knows that
    // the receiver itself went away behind it (247).
    virtual uint8_t DropCode() const { return 255; }
    // A writer that other threads may use once the transport has opened, or null when every write must go through
    // this object on its own thread. Asked on the transport's thread after Opened().
    virtual std::shared_ptr<CDirectWriter> DirectWriter() const { return nullptr; }
    // A reader that a thread waiting for a reply may use (see link/DirectReader.h), or null when only this object
    // reads. Asked on the transport's thread after Opened(); Received() is then emitted with its lease held.
    virtual std::shared_ptr<CDirectReader> DirectReader() const { return nullptr; }

signals:
    void Opened();
    void Failed(const QString& why);
    void Received(const QByteArray& bytes);
    // An open link was lost; reported once.
    void Dropped(const QString& why);
};
