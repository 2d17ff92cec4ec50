#include "link/BlockReceiver.h"

#include "link/Checksum.h"

#include <algorithm>

CBlockReceiver::CBlockReceiver(int blockSize, int64_t limit) : m_blockSize(blockSize), m_limit(limit) {}

void CBlockReceiver::Feed(const char* data, qsizetype size, Output& out)
{
    if (m_state != State::Running) {
        return;
    }
    m_buf.append(data, size);
    while (m_state == State::Running && !m_buf.isEmpty()) {
        // Line ends (after the get's reply) and stray bytes before a block are passed over; a block lost to
        // them is asked for again at the time-out.
        qsizetype start = 0;
        while (start < m_buf.size() && m_buf[start] != 0x02 && m_buf[start] != 0x04 && m_buf[start] != kAbort) {
            ++start;
        }
        m_buf.remove(0, start);
        if (m_buf.isEmpty()) {
            return;
        }
        if (m_buf[0] == kAbort) {
            Fail(out, QStringLiteral("the receiver aborted the transfer"), false);
            return;
        }
        if (m_buf.size() < BlockLength()) {
            return;
        }
        HandleBlock(out);
    }
}

void CBlockReceiver::HandleBlock(Output& out)
{
    const auto* b = reinterpret_cast<const unsigned char*>(m_buf.constData());
    const int body = m_blockSize + 3;
    const uint16_t field = uint16_t(b[1] | (b[2] << 8));
    const uint16_t stored = uint16_t(b[body] | (b[body + 1] << 8));
    const bool trailer = b[body + 2] == 0x03;
    const uint16_t crc = Crc16(m_buf.constData(), size_t(body), m_crc);
    const bool last = b[0] == 0x04;

    if (!trailer || crc != stored) {
        // A block sent again because our ACK was lost checks out against the chain before the last good block.
        if (trailer && m_haveBlock && !last && field == uint16_t(m_expected - 1) &&
            Crc16(m_buf.constData(), size_t(body), m_prevCrc) == stored) {
            m_buf.remove(0, BlockLength());
            out.answer += kAck;
            return;
        }
        Retry(out, QStringLiteral("bad blocks"));
        return;
    }
    if (!last) {
        if (field != m_expected) {
            Fail(out, QStringLiteral("blocks were lost (block %1 came instead of %2)").arg(field).arg(m_expected),
                 true);
            return;
        }
        m_prevCrc = m_crc;
        m_crc = crc;
        ++m_expected;
        m_haveBlock = true;
        m_retries = 0;
        Take(m_buf.constData() + 3, m_blockSize, out);
        m_buf.remove(0, BlockLength());
        if (m_state != State::Running) {
            return;
        }
        if (m_received >= m_limit) {
            // The file grew past the size it had at the start: that much is the download.
            m_grew = true;
            m_state = State::Done;
            m_drain = true;
            out.answer += kAbort;
            return;
        }
        out.answer += kAck;
        return;
    }
    const int count = int(int16_t(field));
    if (count == -1) {
        const QByteArray text = m_buf.mid(3, m_blockSize);
        const qsizetype nul = text.indexOf('\0');
        Fail(out,
             QStringLiteral("the receiver reports: %1")
                 .arg(QString::fromLatin1(text.left(nul < 0 ? 80 : std::min<qsizetype>(nul, 80))).trimmed()),
             false);
        return;
    }
    if (count < 0 || count > m_blockSize) {
        Retry(out, QStringLiteral("a last block of %1 bytes").arg(count));
        return;
    }
    Take(m_buf.constData() + 3, count, out);
    m_buf.clear();
    out.answer += kAck;
    if (m_received > m_limit) {
        m_grew = true;
    }
    if (m_received < m_limit) {
        Fail(out, QStringLiteral("the file ended after %1 of %2 bytes").arg(m_received).arg(m_limit), false);
        return;
    }
    m_state = State::Done;
}

void CBlockReceiver::Take(const char* data, int64_t n, Output& out)
{
    const int64_t room = std::max<int64_t>(0, m_limit - m_received);
    const int64_t take = std::min(n, room);
    out.data.append(data, qsizetype(take));
    m_received += take;
    if (n > take) {
        m_grew = true;
    }
}

void CBlockReceiver::Retry(Output& out, const QString& why)
{
    m_buf.clear();
    if (++m_retries > kMaxRetries) {
        Fail(out, why, true);
        return;
    }
    out.answer += kNak;
}

void CBlockReceiver::OnTimeout(Output& out)
{
    if (m_state == State::Running) {
        Retry(out, QStringLiteral("no answer from the receiver"));
    }
}

void CBlockReceiver::Fail(Output& out, const QString& why, bool abort)
{
    m_state = State::Failed;
    m_error = why;
    m_drain = true;
    m_buf.clear();
    if (abort) {
        out.answer += kAbort;
    }
}
