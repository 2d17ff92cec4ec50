// CReceiver over an in-process receiver whose replies the input writes: answers with the statement's own private
// tag, another statement's, a stale one, none at all, continuation frames, stray stream messages and garbage.
// Oracles: a command whose statement was answered by an error frame (the first frame carrying its tag) never
// ends as success, and no private tag of the link ever reaches the caller's reply text.
#include "FuzzSupport.h"

#include "link/CommandText.h"
#include "link/Connection.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"

#include <map>
#include <mutex>

namespace {

// Reply texts hold no '%' and no lower-case letters, so that a private tag ("nm" + base-36 digits) in the
// caller's reply can only have come from the link.
const char kReplyText[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789{},/. _-";

class CFuzzDevice : public IInProcessDevice
{
public:
    struct State
    {
        // Null or used up: every statement is answered plainly (the open probe, the end of an input).
        CFuzzInput* script = nullptr;
        std::vector<QByteArray> tagsSeen;
        std::vector<QByteArray> lineTags;          // of the newest line
        std::vector<QByteArray> staleTags;         // of the line before
        std::map<QByteArray, bool> answeredError;  // first frame carrying the tag was an error frame
        bool fullFrameSent = false;
        // Raw bytes were sent: they may open a "#" line or a guessed frame that swallows the next reply, so which
        // reply the link saw first is no longer known and the error oracle stands down for this input.
        bool garbled = false;
    };

    std::unique_ptr<IDeviceSession> OpenSession(Sink sink, QString* /*error*/) override;
    void OnLine(const QByteArray& line, const Sink& sink);

    std::mutex mutex;
    State state;
};

class CFuzzSession : public IDeviceSession
{
public:
    CFuzzSession(CFuzzDevice* device, IInProcessDevice::Sink sink) : m_device(device), m_sink(std::move(sink)) {}
    void Write(const QByteArray& bytes) override
    {
        m_pending += bytes;
        for (qsizetype lf; (lf = m_pending.indexOf('\n')) >= 0;) {
            const QByteArray line = m_pending.left(lf).trimmed();
            m_pending.remove(0, lf + 1);
            if (!line.isEmpty()) {
                m_device->OnLine(line, m_sink);
            }
        }
    }

private:
    CFuzzDevice* m_device;
    IInProcessDevice::Sink m_sink;
    QByteArray m_pending;
};

std::unique_ptr<IDeviceSession> CFuzzDevice::OpenSession(Sink sink, QString* /*error*/)
{
    return std::make_unique<CFuzzSession>(this, std::move(sink));
}

void CFuzzDevice::OnLine(const QByteArray& line, const Sink& sink)
{
    QByteArray out;
    {
        std::lock_guard lock(mutex);
        State& s = state;
        const std::vector<Statement> statements = SplitChain(QString::fromLatin1(line));
        s.staleTags = s.lineTags;
        s.lineTags.clear();
        for (const Statement& st : statements) {
            s.lineTags.push_back(st.tag.toLatin1());
            s.tagsSeen.push_back(st.tag.toLatin1());
        }
        auto reply = [&](const char* id, const QByteArray& tag, bool tagged, const QByteArray& body) {
            out += BuildFrame(id, (tagged ? '%' + tag + '%' : QByteArray()) + body) + "\r\n";
            if (tagged && !s.answeredError.count(tag)) {
                s.answeredError[tag] = id[0] == 'E' && !s.garbled;
            }
        };
        for (size_t k = 0; k < statements.size(); ++k) {
            const QByteArray& own = s.lineTags[k];
            CFuzzInput* in = s.script;
            if (!in || in->Empty()) {
                reply("RE", own, true, "OK");
                continue;
            }
            for (int ops = 0; ops < 6; ++ops) {
                const int op = in->Pick(12);
                if (op == 0) {
                    break;
                }
                const QByteArray text = in->Text(12, kReplyText);
                switch (op) {
                    case 1:
                    case 2:
                        reply(op == 1 ? "RE" : "ER", own, true, text);
                        break;
                    case 3:
                    case 4:  // a stray reply without a tag
                        reply(op == 3 ? "RE" : "ER", {}, false, text);
                        break;
                    case 5: {  // another statement's tag
                        const char* id = in->Pick(2) ? "RE" : "ER";
                        reply(id, s.lineTags[size_t(in->Pick(int(s.lineTags.size())))], true, text);
                        break;
                    }
                    case 6: {  // the tag of a command answered before, or of one never sent
                        const QByteArray tag = s.staleTags.empty() || in->Pick(2)
                                                   ? QByteArray("nmzzzz")
                                                   : s.staleTags[size_t(in->Pick(int(s.staleTags.size())))];
                        reply(in->Pick(2) ? "RE" : "ER", tag, true, text);
                        break;
                    }
                    case 7:  // a continuation
                        reply("RE", {}, false, ' ' + text);
                        break;
                    case 8:  // a reply that fills its frame, so that the link waits for a continuation
                        if (!s.fullFrameSent) {
                            s.fullFrameSent = true;
                            reply("RE", own, true, QByteArray(CFramer::kMaxBody - own.size() - 2, 'F'));
                        }
                        break;
                    case 9:  // a stream message between replies
                        out += "||001F\n";
                        break;
                    case 10:
                        out += "$GPGGA," + text + "\r\n";
                        break;
                    default:
                        out += in->Bytes(size_t(in->Pick(8)));
                        s.garbled = true;
                        break;
                }
            }
        }
    }
    if (!out.isEmpty()) {
        sink.output(out);
    }
}

struct Fixture
{
    Fixture() : device(std::make_shared<CFuzzDevice>())
    {
        RegisterInProcessDevice(QStringLiteral("fuzz-receiver"), device);
        connection.Open(QString(), QString(), QString(), QStringLiteral("Nemola-M"));
        connection.SetTimeout(2);  // 40 ms of silence: a withheld reply costs little
    }
    std::shared_ptr<CFuzzDevice> device;
    CConnection connection;
};

const char* const kStatements[] = {"print,/par/a", "set,/par/b,1", "%%set,/par/c,2", "%u%print,/par/d", "em,,/msg/def"};

}  // namespace

void FuzzReceiver(const uint8_t* data, size_t size)
{
    static Fixture fixture;
    CFuzzInput in(data, size);
    QStringList commands;
    for (int c = 0, n = 1 + in.Pick(3); c < n; ++c) {
        QString line;
        for (int k = 0, m = 1 + in.Pick(3); k < m; ++k) {
            if (k > 0) {
                line += QLatin1String(in.Pick(2) ? "&&" : ";");
            }
            line += QLatin1String(kStatements[in.Pick(int(std::size(kStatements)))]);
        }
        commands << line;
    }
    CFuzzDevice& device = *fixture.device;
    {
        std::lock_guard lock(device.mutex);
        device.state = CFuzzDevice::State{};
    }
    CReceiver receiver;
    if (!receiver.Open(&fixture.connection, QStringLiteral("SIM:fuzz-receiver"))) {
        return;  // the open probe timed out on a busy machine: nothing to check
    }
    {
        std::lock_guard lock(device.mutex);
        device.state.script = &in;
    }
    for (const QString& command : commands) {
        const int ok = receiver.SendCommand(command);
        const QString reply = receiver.GetReplyString();
        std::lock_guard lock(device.mutex);
        const CFuzzDevice::State& s = device.state;
        for (const QByteArray& tag : s.lineTags) {
            const auto it = s.answeredError.find(tag);
            if (ok && it != s.answeredError.end() && it->second) {
                FuzzFail("receiver",
                         "an error reply ended as success: " + command.toStdString() + " -> " + reply.toStdString());
            }
        }
        for (const QByteArray& tag : s.tagsSeen) {
            const QString t = QString::fromLatin1(tag);
            if (reply.contains(QLatin1Char('%') + t) || reply.contains(t + QLatin1Char('%'))) {
                FuzzFail("receiver", "a private tag reached the caller: " + reply.toStdString());
            }
        }
    }
    {
        std::lock_guard lock(device.mutex);
        device.state.script = nullptr;
    }
    receiver.Close();
}
