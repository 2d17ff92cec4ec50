#include "link/ReplyPairing.h"

#include "link/CommandText.h"
#include "link/Framer.h"

#include <algorithm>

void CReplyPairing::Start(std::vector<Statement> statements, int silenceMs, TimePoint now)
{
    m_statements = std::move(statements);
    m_frames.assign(m_statements.size(), {});
    m_active = true;
    m_silenceMs = silenceMs;
    m_start = now;
    m_activity = now;
    m_bytes = 0;
    m_continuing = -1;
    m_untaggedInLine = 0;
}

void CReplyPairing::OnMoreSent(TimePoint now)
{
    m_start = now;
    m_activity = now;
    m_bytes = 0;
}

void CReplyPairing::Stop()
{
    m_active = false;
}

CReplyPairing::Take CReplyPairing::OnReplyFrame(const QByteArray& frame, TimePoint now)
{
    // Read in place: a command's reply passes here, and copies of its pieces would cost more than the pairing.
    const QByteArrayView body = QByteArrayView(frame).sliced(std::min<qsizetype>(frame.size(), CFramer::kHeaderSize));
    struct
    {
        QByteArrayView tag;
        bool tagged = false;
    } rb;
    if (body.startsWith('%')) {
        const qsizetype close = body.indexOf('%', 1);
        if (close > 0) {
            rb.tagged = true;
            rb.tag = body.sliced(1, close - 1);
        }
    }
    auto pair = [&](int k) {
        m_frames[size_t(k)].push_back(frame);
        m_continuing = body.size() == CFramer::kMaxBody ? k : -1;
        m_activity = now;
        m_bytes += frame.size();
        return Take::Paired;
    };
    if (m_active && rb.tagged) {
        for (size_t k = 0; k < m_statements.size(); ++k) {
            if (QByteArrayView(m_statements[k].tag) == rb.tag && m_frames[k].empty()) {
                return pair(int(k));
            }
        }
    }
    if (!rb.tagged && body.startsWith(' ')) {
        // A continuation belongs to the frame just before it, and only of the same kind.
        const auto kind = [](const QByteArray& f) { return QByteArrayView(f).first(std::min<qsizetype>(f.size(), 2)); };
        if (m_active && m_continuing >= 0 && kind(m_frames[size_t(m_continuing)].front()) == kind(frame)) {
            return pair(m_continuing);
        }
        ++m_unpaired;
        return Take::Dropped;
    }
    ++m_unpaired;
    if (rb.tagged) {
        return Take::Dropped;  // a stale reply of a command that gave up, or not ours
    }
    if (m_active) {
        ++m_untaggedInLine;
    }
    return Take::Unsolicited;
}

void CReplyPairing::OnReplyBytes(TimePoint now)
{
    if (m_active) {
        m_activity = now;
    }
}

bool CReplyPairing::IsWhole(size_t i) const
{
    return i < m_frames.size() && !m_frames[i].empty() && m_continuing != int(i);
}

bool CReplyPairing::AllAnswered() const
{
    const size_t n = m_statements.size();
    size_t i = 0;
    while (i < n) {
        if (m_frames[i].empty()) {
            return false;
        }
        // After an error the receiver skips the rest of the "&&" group.
        if (m_frames[i].front().startsWith("ER")) {
            while (i + 1 < n && m_statements[i].skipOnError) {
                ++i;
            }
        }
        ++i;
    }
    return true;
}

CReplyPairing::State CReplyPairing::Check(TimePoint now) const
{
    if (!m_active) {
        return State::Idle;
    }
    if (m_bytes > kMaxReplyBytes) {
        return State::TooLarge;
    }
    const auto silence = std::chrono::milliseconds(m_silenceMs);
    if (AllAnswered()) {
        // A reply that filled its last frame may go on; it is whole once the receiver has been quiet as long
        // as a reply may take to begin.
        if (m_continuing < 0 || now >= m_activity + silence) {
            return State::Complete;
        }
    }
    if (now >= m_start + silence * kMaxReplySilences) {
        return State::TooSlow;
    }
    if (now >= m_activity + silence) {
        return State::TimedOut;
    }
    return State::Waiting;
}

CReplyPairing::TimePoint CReplyPairing::NextDeadline() const
{
    const auto silence = std::chrono::milliseconds(m_silenceMs);
    return std::min(m_activity + silence, m_start + silence * kMaxReplySilences);
}
