#include "link/ParamBatch.h"

#include "link/ReceiverHolder.h"

CParamBatch::CParamBatch(CReceiverHolder& holder) : m_holder(holder) {}

CParamBatch::CParamBatch() : m_holder(CReceiverHolder::Shared()) {}

bool CParamBatch::Run(const QString& batch)
{
    if (!m_holder.Send(batch)) {
        Clear();
        m_failure.clear();
        switch (m_holder.LastFailure()) {
            case CReceiver::Failure::TimedOut:
                m_failure = QStringLiteral("No reply from the receiver");
                break;
            case CReceiver::Failure::Cancelled:
                m_failure = QStringLiteral("Cancelled");
                break;
            case CReceiver::Failure::ErrorReply:
                m_failure = m_holder.Reply().trimmed();
                break;
            case CReceiver::Failure::None:
            case CReceiver::Failure::LinkLost:
                break;
        }
        if (m_failure.isEmpty()) {
            m_failure = QStringLiteral("Link lost");
        }
        return false;
    }
    m_failure.clear();
    ParseReply(batch, m_holder.Reply());
    return true;
}

void CParamBatch::Clear()
{
    // A batch used for a second query must not show the first one's answers in slots the second left empty.
    m_values.fill(QString());
    m_present.reset();
    m_lineCount = 0;
    m_errorCount = 0;
}

void CParamBatch::ParseReply(const QString& batchText, const QString& reply)
{
    Clear();
    m_lineCount = int(batchText.mid(1).count(QLatin1Char('\n')));
    int pos = 0;
    int index = 0;
    for (;;) {
        const int lf = int(reply.indexOf(QLatin1Char('\n'), pos));
        if (lf < 0) {
            break;
        }
        if (index < kSlots) {
            if (reply.mid(pos, 2) == QLatin1String("RE")) {
                // A line too short for its header has no value, and must not borrow the next line's.
                m_values[size_t(index)] = lf - pos > 5 ? reply.mid(pos + 5, lf - pos - 5).trimmed() : QString();
                m_present.set(size_t(index));
            } else {
                ++m_errorCount;
            }
        } else if (reply.mid(pos, 2) != QLatin1String("RE")) {
            ++m_errorCount;
        }
        pos = lf + 1;
        ++index;
    }
}

const QString* CParamBatch::Value(int i) const
{
    if (i < 0 || i >= kSlots || !m_present.test(size_t(i))) {
        return nullptr;
    }
    return &m_values[size_t(i)];
}
