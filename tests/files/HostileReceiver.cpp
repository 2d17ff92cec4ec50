#include "HostileReceiver.h"

#include "link/Checksum.h"
#include "link/CommandText.h"

#include <chrono>
#include <utility>

class CHostileSession : public IDeviceSession
{
public:
    explicit CHostileSession(CHostileReceiver* device) : m_device(device) {}
    ~CHostileSession() override
    {
        std::lock_guard lock(m_device->m_mutex);
        m_device->m_haveSink = false;
    }
    void Write(const QByteArray& bytes) override { m_device->OnBytes(bytes); }

private:
    CHostileReceiver* m_device;
};

CHostileReceiver::CHostileReceiver(QString key, QByteArray content, Fault fault, int faultBlock, int stallMs)
    : m_key(std::move(key)), m_content(std::move(content)), m_fault(fault), m_faultBlock(faultBlock), m_stallMs(stallMs)
{
}

CHostileReceiver::~CHostileReceiver()
{
    {
        std::lock_guard lock(m_threadMutex);
        m_stop = true;
    }
    m_stopCv.notify_all();
    for (std::thread& t : m_threads) {
        t.join();
    }
}

std::unique_ptr<IDeviceSession> CHostileReceiver::OpenSession(Sink sink, QString* /*error*/)
{
    std::lock_guard lock(m_mutex);
    m_sink = std::move(sink);
    m_haveSink = true;
    m_transfer = false;
    m_pending.clear();
    return std::make_unique<CHostileSession>(this);
}

void CHostileReceiver::Out(const QByteArray& bytes)
{
    if (m_haveSink && !bytes.isEmpty()) {
        m_sink.output(bytes);
    }
}

void CHostileReceiver::OnBytes(const QByteArray& bytes)
{
    std::lock_guard lock(m_mutex);
    if (m_busy) {
        m_deferred += bytes;  // read once the block on its way is out, as a port that sends one thing at a time
        return;
    }
    for (const char c : bytes) {
        if (m_transfer) {
            OnAnswer(c);
            continue;
        }
        if (c != '\n') {
            m_pending += c;
            continue;
        }
        const QByteArray line = m_pending.trimmed();
        m_pending.clear();
        if (!line.isEmpty()) {
            OnLine(line);
        }
    }
}

void CHostileReceiver::OnLine(const QByteArray& line)
{
    const Statement s = SplitChain(QString::fromLatin1(line)).front();
    const QByteArray tag = s.tagged ? '%' + s.tag.toLatin1() + '%' : QByteArray();
    const QByteArray text = s.text.toLatin1();
    const QByteArray size = QByteArray::number(m_content.size());
    QByteArray body;
    if (text == "print,/log/F&size") {
        body = size;
    } else if (text == "print,/log/&[name,size,time]") {
        body = "{{F," + size + ",1000}}";
    } else if (text.startsWith("get,/log/F")) {
        // get,/log/F[,offset]:{timeout,blockSize}
        const int colon = text.indexOf(':');
        const int comma = text.indexOf(',', 4);
        m_pos = comma > 0 && comma < colon ? text.mid(comma + 1, colon - comma - 1).toLongLong() : 0;
        m_blockSize = text.mid(text.lastIndexOf(',') + 1).chopped(1).toInt();
        m_number = 0;
        m_crcBefore = 0;
        m_transfer = true;
    }
    Out(BuildFrame("RE", tag + body) + "\r\n");
}

QByteArray CHostileReceiver::CurrentBlock() const
{
    const int64_t left = m_content.size() - m_pos;
    const bool last = left <= m_blockSize;
    const uint16_t field = last ? uint16_t(left) : m_number;
    QByteArray b;
    b.append(last ? '\x04' : '\x02').append(char(field & 0xFF)).append(char(field >> 8));
    b.append(m_content.mid(m_pos, m_blockSize).leftJustified(m_blockSize, '\0'));
    const uint16_t crc = Crc16(b.constData(), size_t(b.size()), m_crcBefore);
    return b.append(char(crc & 0xFF)).append(char(crc >> 8)).append('\x03');
}

void CHostileReceiver::OnAnswer(char c)
{
    const int index = int(m_pos / m_blockSize);
    if (c == 0x15) {
        ++m_naks;
        if (m_fault == Fault::ChattyAfterAbort && index == m_faultBlock) {
            return;  // withheld: the host ends up aborting
        }
        SendCurrent();
        return;
    }
    if (c >= 0x21 && c <= 0x2F) {
        m_transfer = false;
        m_aborted = true;
        if (m_fault == Fault::ChattyAfterAbort) {
            Later(0, QByteArrayLiteral("chatter\r\n"), 20, kChatterMs);
        }
        return;
    }
    if (c != 0x06) {
        return;
    }
    const QByteArray acked = CurrentBlock();
    if (acked[0] == 0x04) {
        m_transfer = false;  // the last block
        return;
    }
    if (m_fault == Fault::RepeatBlock && index == m_faultBlock) {
        if (++m_repeats <= kMaxRepeats) {
            ++m_blocksSent;
            Out(acked);  // as if the ACK had been lost, for ever
        }
        return;
    }
    m_crcBefore = Crc16(acked.constData(), size_t(acked.size() - 3), m_crcBefore);
    m_pos += m_blockSize;
    ++m_number;
    if (m_fault == Fault::ChattyAfterAbort && index + 1 == m_faultBlock) {
        return;
    }
    SendCurrent();
}

void CHostileReceiver::SendCurrent()
{
    const QByteArray block = CurrentBlock();
    ++m_blocksSent;
    if (m_fault == Fault::StallMidBlock && m_pos / m_blockSize == m_faultBlock && !m_stalled) {
        m_stalled = true;
        m_busy = true;
        Out(block.left(block.size() / 2));
        Later(m_stallMs, block.mid(block.size() / 2), 0, 0, [this] {
            m_busy = false;
            const QByteArray deferred = std::exchange(m_deferred, QByteArray());
            for (const char c : deferred) {
                if (m_transfer) {
                    OnAnswer(c);
                }
            }
        });
        return;
    }
    Out(block);
}

void CHostileReceiver::Later(int delayMs, QByteArray bytes, int repeatEveryMs, int untilMs, std::function<void()> then)
{
    std::lock_guard threads(m_threadMutex);
    m_threads.emplace_back([this, delayMs, bytes, repeatEveryMs, untilMs, then] {
        const auto start = std::chrono::steady_clock::now();
        auto wait = std::chrono::milliseconds(delayMs);
        for (;;) {
            {
                std::unique_lock lock(m_threadMutex);
                if (m_stopCv.wait_for(lock, wait, [this] { return m_stop; })) {
                    return;
                }
            }
            {
                std::lock_guard lock(m_mutex);
                Out(bytes);
                if (then) {
                    then();
                }
            }
            if (repeatEveryMs == 0 || std::chrono::steady_clock::now() - start > std::chrono::milliseconds(untilMs)) {
                return;
            }
            wait = std::chrono::milliseconds(repeatEveryMs);
        }
    });
}
