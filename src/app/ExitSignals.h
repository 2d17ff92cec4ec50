#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT as a request on the GUI thread: the handler only writes the signal's number to a socket pair,
// which a notifier reads in the event loop. One instance at a time; it puts the default handlers back when it goes.
class CExitSignals : public QObject
{
    Q_OBJECT

public:
    explicit CExitSignals(QObject* parent = nullptr);
    ~CExitSignals() override;
    CExitSignals(const CExitSignals&) = delete;
    CExitSignals& operator=(const CExitSignals&) = delete;

    // False when the socket pair could not be made: the signals then end the program as they would without it.
    bool Installed() const { return m_notifier != nullptr; }

signals:
    void Requested(int signal);

private:
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
};
