#pragma once

#include "link/Receiver.h"

#include <QString>

#include <memory>
#include <mutex>

// The application's one shared receiver handle, created on first use. Everything that talks to the receiver
// borrows it for the duration of a call.
class CReceiverHolder
{
public:
    std::shared_ptr<CReceiver> GetReceiver();
    bool HasReceiver() const;
    // Closes the handle and empties the holder.
    void CloseReceiver();

    // A blocking command on the shared handle; true when the receiver accepted it.
    bool Send(const QString& text);
    // The reply text of the last command.
    QString Reply();
    // Why the last command failed (None without a receiver).
    CReceiver::Failure LastFailure() const;
    // Ends the command waiting on the shared handle, from any thread (CReceiver::Cancel).
    void Cancel();
    // Lets a thread waiting in CReceiver::WaitTableEvent on the shared handle look at its event, from any thread.
    void WakeTableWaiter();

    // The holder of the running program.
    static CReceiverHolder& Shared();

private:
    // The handle, or null; never creates one.
    std::shared_ptr<CReceiver> Current() const;

    mutable std::mutex m_mutex;
    std::shared_ptr<CReceiver> m_receiver;
};
