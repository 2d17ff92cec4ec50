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

void CReceiverHolder::Cancel()
{
    std::shared_ptr<CReceiver> receiver;
    {
        std::lock_guard lock(m_mutex);
        receiver = m_receiver;
    }
    if (receiver) {
        receiver->Cancel();
    }
}

void CReceiverHolder::WakeTableWaiter()
{
    std::shared_ptr<CReceiver> receiver;
    {
        std::lock_guard lock(m_mutex);
        receiver = m_receiver;
    }
    if (receiver) {
        receiver->WakeTableWaiter();
    }
}

CReceiverHolder& CReceiverHolder::Shared()
{
    static CReceiverHolder holder;
    return holder;
}
