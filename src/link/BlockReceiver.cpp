#include "link/BlockReceiver.h"

#include "link/Checksum.h"
#include "link/FileListing.h"

#include <algorithm>

CBlockReceiver::CBlockReceiver(int blockSize, int64_t limit) : m_blockSize(blockSize), m_limit(limit) {}

void CBlockReceiver::Feed(const char* data, qsizetype size, Output& out)
{
    if (m_state != State::Running || size <= 0) {
        return;
    }
    if (m_purging) {
        // The rest of a stale block: dropped until the line is quiet. A receiver that does not stop is given up.
        m_purged += size;
        if (m_purged > kMaxPurgeBlocks * BlockLength()) {
            Fail(out, QStringLiteral("the receiver does not stop sending"), true);
        }
        return;
    }
    m_abortPending = false;  // bytes came after a "#": it was none
    if (m_buf.isEmpty()) {
        // The usual case: whole blocks are read where they arrived, without a copy.
        const qsizetype used = Consume(data, size, out);
        if (m_state == State::Running && !m_purging && used < size) {
            m_buf.append(data + used, size - used);
        }
        return;
    }
    m_buf.append(data, size);
    const qsizetype used = Consume(m_buf.constData(), m_buf.size(), out);
    if (m_state == State::Running && !m_purging) {
        m_buf.remove(0, used);
    } else {
        m_buf.clear();
    }
}

qsizetype CBlockReceiver::Consume(const char* data, qsizetype size, Output& out)
{
    qsizetype pos = 0;
    while (m_state == State::Running && pos < size) {
        // Line ends (after the get's reply) and stray bytes before a block are passed over; a block lost to
        // them is asked for again at the time-out.
        while (pos < size && data[pos] != 0x02 && data[pos] != 0x04 && data[pos] != kAbort) {
            ++pos;
        }
        if (pos == size) {
            break;
        }
        if (data[pos] == kAbort) {
            if (pos + 1 < size) {
                ++pos;  // bytes follow it: noise, not the receiver's abort
                continue;
            }
            m_abortPending = true;  // kept; an abort once the line stays quiet
            break;
        }
        if (size - pos < BlockLength()) {
            break;
        }
        if (!HandleBlock(data + pos, out)) {
            return size;
        }
        pos += BlockLength();
    }
    return pos;
}

bool CBlockReceiver::HandleBlock(const char* block, Output& out)
{
    const auto* b = reinterpret_cast<const unsigned char*>(block);
    const int body = m_blockSize + 3;
    const uint16_t field = uint16_t(b[1] | (b[2] << 8));
    const uint16_t stored = uint16_t(b[body] | (b[body + 1] << 8));
    const bool trailer = b[body + 2] == 0x03;
    const uint16_t crc = Crc16(block, size_t(body), m_crc);
    const bool last = b[0] == 0x04;

    if (!trailer || crc != stored) {
        // A block sent again because our ACK was lost checks out against the chain before the last good block.
        if (trailer && m_haveBlock && !last && field == uint16_t(m_expected - 1) &&
            Crc16(block, size_t(body), m_prevCrc) == stored) {
            if (!CountRetry(out, QStringLiteral("the receiver sends block %1 again and again").arg(field))) {
                return false;
            }
            out.answer += kAck;
            return true;
        }
        Purge(out, QStringLiteral("bad blocks"));
        return false;
    }
    if (!last) {
        if (field != m_expected) {
            Fail(out, QStringLiteral("blocks were lost (block %1 came instead of %2)").arg(field).arg(m_expected),
                 true);
            return false;
        }
        m_prevCrc = m_crc;
        m_crc = crc;
        ++m_expected;
        m_haveBlock = true;
        m_retries = 0;
        Take(block + 3, m_blockSize, out);
        if (m_received >= m_limit) {
            // The file grew past the size it had at the start: that much is the download.
            m_grew = true;
            m_state = State::Done;
            m_drain = true;
            out.answer += kAbort;
            return false;
        }
        out.answer += kAck;
        return true;
    }
    const int count = int(int16_t(field));
    if (count == -1) {
        const QByteArray text(block + 3, m_blockSize);
        const qsizetype nul = text.indexOf('\0');
        Fail(out,
             QStringLiteral("the receiver reports: %1")
                 .arg(PrintableName(
                     QString::fromLatin1(text.left(nul < 0 ? 80 : std::min<qsizetype>(nul, 80))).trimmed())),
             false);
        return false;
    }
    if (count < 0 || count > m_blockSize) {
        Purge(out, QStringLiteral("a last block of %1 bytes").arg(count));
        return false;
    }
    Take(block + 3, count, out);
    out.answer += kAck;
    if (m_received > m_limit) {
        m_grew = true;
    }
    if (m_received < m_limit) {
        Fail(out, QStringLiteral("the file ended after %1 of %2 bytes").arg(m_received).arg(m_limit), false);
        return false;
    }
    m_state = State::Done;
    return false;
}

void CBlockReceiver::Take(const char* data, int64_t n, Output& out)
{
    const int64_t room = std::max<int64_t>(0, m_limit - m_received);
    const int64_t take = std::min(n, room);
    if (take > 0) {
        if (out.write) {
            out.write(data, qsizetype(take));
        } else {
            out.data.append(data, qsizetype(take));
        }
    }
    m_received += take;
    if (n > take) {
        m_grew = true;
    }
}

bool CBlockReceiver::CountRetry(Output& out, const QString& why)
{
    if (++m_retries > kMaxRetries) {
        Fail(out, why, true);
        return false;
    }
    return true;
}

void CBlockReceiver::Retry(Output& out, const QString& why)
{
    if (CountRetry(out, why)) {
        out.answer += kNak;
    }
}

void CBlockReceiver::Purge(Output& out, const QString& why)
{
    if (CountRetry(out, why)) {
        m_purging = true;
        m_purged = 0;
    }
}

void CBlockReceiver::OnTimeout(Output& out)
{
    if (m_state != State::Running) {
        return;
    }
    if (m_abortPending) {
        m_buf.clear();
        Fail(out, QStringLiteral("the receiver aborted the transfer"), false);
    } else if (m_purging) {
        m_purging = false;  // quiet now: the block again, whole
        out.answer += kNak;
    } else if (!m_buf.isEmpty()) {
        m_buf.clear();  // a block cut off: its rest may still come, so wait for quiet before asking again
        Purge(out, QStringLiteral("no answer from the receiver"));
    } else {
        Retry(out, QStringLiteral("no answer from the receiver"));
    }
}

void CBlockReceiver::Fail(Output& out, const QString& why, bool abort)
{
    m_state = State::Failed;
    m_error = why;
    m_drain = true;
    if (abort) {
        out.answer += kAbort;
    }
}
