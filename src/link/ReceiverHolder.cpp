#include "link/ReceiverHolder.h"

#include "link/Receiver.h"

std::shared_ptr<CReceiver> CReceiverHolder::GetReceiver()
{
    std::lock_guard lock(m_mutex);
    if (!m_receiver) {
        m_receiver = std::make_shared<CReceiver>();
    }
    return m_receiver;
}

bool CReceiverHolder::HasReceiver() const
{
    std::lock_guard lock(m_mutex);
    return m_receiver != nullptr;
}

void CReceiverHolder::CloseReceiver()
{
    std::shared_ptr<CReceiver> receiver;
    {
        std::lock_guard lock(m_mutex);
        receiver.swap(m_receiver);
    }
    if (receiver) {
        receiver->Close(false);
    }
}

bool CReceiverHolder::Send(const QString& text)
{
    return GetReceiver()->SendCommand(text, nullptr) != 0;
}

QString CReceiverHolder::Reply()
{
    return GetReceiver()->GetReplyString();
}

CReceiver::Failure CReceiverHolder::LastFailure() const
{
    std::lock_guard lock(m_mutex);
    return m_receiver ? m_receiver->LastFailure() : CReceiver::Failure::None;
}

std::shared_ptr<CReceiver> CReceiverHolder::Current() const
{
    std::lock_guard lock(m_mutex);
    return m_receiver;
}

void CReceiverHolder::Cancel()
{
    // Outside the holder's lock: the receiver takes its own.
    if (const std::shared_ptr<CReceiver> receiver = Current()) {
        receiver->Cancel();
    }
}

void CReceiverHolder::WakeTableWaiter()
{
    if (const std::shared_ptr<CReceiver> receiver = Current()) {
        receiver->WakeTableWaiter();
    }
}

CReceiverHolder& CReceiverHolder::Shared()
{
    static CReceiverHolder holder;
    return holder;
}
