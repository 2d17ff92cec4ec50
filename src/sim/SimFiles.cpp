#include "sim/SimFiles.h"

#include "link/Checksum.h"
#include "sim/SimCore.h"

#include <QDateTime>

#include <algorithm>

namespace {

constexpr const char* kErrFirst = "{2,,wrong 1st parameter}";
constexpr const char* kErrSecond = "{3,,wrong 2nd parameter}";
constexpr const char* kErrNoFile = "{10,,file not found}";
constexpr const char* kErrExists = "{11,,file exists}";
constexpr const char* kErrBusy = "{13,,file system busy}";

constexpr char kNak = 0x15;
constexpr char kAck = 0x06;
constexpr int kMinBlock = 512;
constexpr int kMaxBlock = 16384;

// 1988-01-01 00:00 UTC in seconds since 1970.
constexpr int64_t kEpoch1988 = 567993600;

QString Unquote(QString s)
{
    s = s.trimmed();
    if (s.size() >= 2 && s.startsWith(QLatin1Char('"')) && s.endsWith(QLatin1Char('"'))) {
        s = s.mid(1, s.size() - 2);
    }
    return s;
}

// "/log/name" -> "name"; empty when the path is not a file of the memory.
QString FileName(const QString& path)
{
    const QString p = Unquote(path);
    if (!p.startsWith(QLatin1String("/log/"))) {
        return QString();
    }
    const QString name = p.mid(5);
    return name.contains(QLatin1Char('/')) ? QString() : name;
}

void EndTransfer(SimSession& session)
{
    session.transfer.reset();
}

QByteArray BuildBlock(char type, uint16_t field, const QByteArray& data, int blockSize, uint16_t crcBefore,
                      uint16_t* crcAfter)
{
    QByteArray b;
    b.reserve(blockSize + 6);
    b.append(type);
    b.append(static_cast<char>(field & 0xFF));
    b.append(static_cast<char>(field >> 8));
    const qsizetype n = std::min<qsizetype>(data.size(), blockSize);
    b.append(data.constData(), n);  // one copy of the file's bytes per block (a download asks for every byte)
    b.append(blockSize - n, '\0');
    const uint16_t crc = Crc16(b.constData(), size_t(b.size()), crcBefore);
    b.append(static_cast<char>(crc & 0xFF));
    b.append(static_cast<char>(crc >> 8));
    b.append('\x03');
    if (crcAfter) {
        *crcAfter = crc;
    }
    return b;
}

QByteArray ErrorBlock(const SimTransfer& t, const QByteArray& text)
{
    return BuildBlock(0x04, 0xFFFF, text + '\0', t.blockSize, t.crcBefore, nullptr);
}

// Builds the current block from the file as it is now.
void BuildCurrent(CSimCore& core, SimTransfer& t)
{
    const auto it = core.files.files.find(t.name);
    if (it == core.files.files.end()) {
        t.current = ErrorBlock(t, "file removed");
        t.currentLast = true;
        return;
    }
    const QByteArray& content = it->second.content;
    const int64_t remaining = std::max<int64_t>(0, content.size() - t.pos);
    const QByteArray data = QByteArray::fromRawData(content.constData() + std::min<int64_t>(t.pos, content.size()),
                                                    qsizetype(std::min<int64_t>(remaining, t.blockSize)));
    t.currentLast = remaining <= t.blockSize;
    t.current = t.currentLast ? BuildBlock(0x04, uint16_t(remaining), data, t.blockSize, t.crcBefore, &t.crcAfter)
                              : BuildBlock(0x02, t.number, data, t.blockSize, t.crcBefore, &t.crcAfter);
}

bool TakeFault(CSimCore& core, const SimTransfer& t, SimTransferFault fault)
{
    auto& faults = core.files.transferFaults;
    const auto it = faults.find(fault);
    if (it == faults.end() || it->second != t.index) {
        return false;
    }
    faults.erase(it);
    return true;
}

void SendCurrent(CSimCore& core, SimSession& session)
{
    SimTransfer& t = *session.transfer;
    if (t.current.isEmpty()) {
        BuildCurrent(core, t);
    }
    if (TakeFault(core, t, SimTransferFault::Silence)) {
        return;
    }
    if (TakeFault(core, t, SimTransferFault::DropLink)) {
        core.DropAll(QStringLiteral("The receiver's port went away"));
        return;
    }
    if (TakeFault(core, t, SimTransferFault::Abort)) {
        core.SendMessages(session, QByteArray("#"));
        EndTransfer(session);
        return;
    }
    if (TakeFault(core, t, SimTransferFault::ErrorBlock)) {
        core.SendMessages(session, ErrorBlock(t, "read error"));
        EndTransfer(session);
        return;
    }
    if (TakeFault(core, t, SimTransferFault::BadCount)) {
        core.SendMessages(session,
                          BuildBlock(0x04, uint16_t(t.blockSize + 1), QByteArray(), t.blockSize, t.crcBefore, nullptr));
        return;
    }
    QByteArray block = t.current;
    if (TakeFault(core, t, SimTransferFault::CorruptBlock)) {
        block[3] = static_cast<char>(block[3] ^ 0x20);
    }
    core.SendMessages(session, block);
    if (t.current.size() > 2 && t.current[1] == '\xFF' && t.current[2] == '\xFF' && t.current[0] == 0x04) {
        EndTransfer(session);  // an error block ends the transfer on the receiver's side
    }
}

}  // namespace

int64_t SimFiles::UsedBytes() const
{
    int64_t used = 0;
    for (const auto& [name, f] : files) {
        used += f.content.size();
    }
    return used;
}

QByteArray SimLogHeader()
{
    QByteArray kv = "KV055RLOGF";
    kv += QByteArray("Simulated receiver log").leftJustified(80, ' ');
    kv += "\r\n";
    const QByteArray mf = "MF009KV01010";
    const uint8_t cs = Checksum8(mf.constData(), size_t(mf.size()));
    return kv + mf + QByteArray::number(cs, 16).toUpper().rightJustified(2, '0') + "\r\n";
}

QByteArray SimLogHeaderFrame(const QByteArray& id)
{
    const QByteArray header = SimLogHeader();
    const int mf = int(header.indexOf("MF009"));
    return id == "KV" ? header.left(mf) : id == "MF" ? header.mid(mf) : QByteArray();
}

QByteArray SimLogContent(int64_t size, uint32_t seed)
{
    QByteArray out = SimLogHeader();
    out.reserve(qsizetype(size));
    uint32_t ms = seed * 1000u;
    while (out.size() < size) {
        // One epoch: receiver time, a varying payload frame, the epoch end.
        char rt[10] = {'~', '~', '0', '0', '5'};
        for (int i = 0; i < 4; ++i) {
            rt[5 + i] = static_cast<char>((ms >> (8 * i)) & 0xFF);
        }
        rt[9] = static_cast<char>(Checksum8(rt, 9));
        out.append(rt, 10);
        out.append('\n');
        char oo[10] = {'O', 'O', '0', '0', '5'};
        const uint32_t x = ms * 2654435761u ^ seed;
        for (int i = 0; i < 4; ++i) {
            oo[5 + i] = static_cast<char>((x >> (8 * i)) & 0xFF);
        }
        oo[9] = static_cast<char>(Checksum8(oo, 9));
        out.append(oo, 10);
        out.append('\n');
        out.append("||001F\n", 7);
        ms += 1000;
    }
    out.truncate(qsizetype(size));
    return out;
}

QByteArray SimCreateFile(CSimCore& core, const QString& arg)
{
    const QString name = FileName(arg);
    if (name.isEmpty()) {
        return kErrFirst;
    }
    if (core.files.files.count(name)) {
        return kErrExists;
    }
    SimFile f;
    f.content = SimLogHeader();
    f.time = core.UtcMs(core.Now()) / 1000 - kEpoch1988;
    core.files.files[name] = f;
    core.files.current = name;
    return QByteArray();
}

QByteArray SimRemoveFile(CSimCore& core, const QString& arg)
{
    const QString path = Unquote(arg);
    if (path == QLatin1String("/log/")) {
        core.files.files.clear();
    } else {
        const QString name = FileName(path);
        if (name.isEmpty()) {
            return kErrFirst;
        }
        if (!core.files.files.erase(name)) {
            return kErrNoFile;
        }
    }
    if (!core.files.files.count(core.files.current)) {
        // Removing the file being logged into ends the logging.
        core.files.current.clear();
        core.outputs.erase(QStringLiteral("/cur/log"));
    }
    return QByteArray();
}

QByteArray SimStartGet(CSimCore& core, SimSession& session, const QString& args)
{
    // "/log/name[,offset]:{timeout,block_size}"
    QString head = args;
    int timeoutS = 5;
    int blockSize = kMinBlock;
    const int colon = args.indexOf(QLatin1String(":{"));
    if (colon >= 0) {
        head = args.left(colon);
        QString opts = args.mid(colon + 2);
        if (!opts.endsWith(QLatin1Char('}'))) {
            return kErrSecond;
        }
        const QStringList o = opts.left(opts.size() - 1).split(QLatin1Char(','));
        bool ok1 = true, ok2 = true;
        if (!o.value(0).trimmed().isEmpty()) {
            timeoutS = o.value(0).trimmed().toInt(&ok1);
        }
        if (o.size() > 1) {
            blockSize = o.value(1).trimmed().toInt(&ok2);
        }
        if (!ok1 || !ok2 || timeoutS < 1 || timeoutS > 600 || blockSize < kMinBlock || blockSize > kMaxBlock) {
            return kErrSecond;
        }
    }
    const QStringList parts = head.split(QLatin1Char(','));
    const QString name = FileName(parts.value(0));
    if (name.isEmpty() || parts.size() > 2) {
        return kErrFirst;
    }
    const auto it = core.files.files.find(name);
    if (it == core.files.files.end()) {
        return kErrNoFile;
    }
    int64_t offset = 0;
    if (parts.size() == 2) {
        bool ok = false;
        offset = parts[1].trimmed().toLongLong(&ok);
        if (!ok || offset < 0 || offset > it->second.content.size()) {
            return kErrSecond;
        }
    }
    auto t = std::make_shared<SimTransfer>();
    t->name = name;
    t->blockSize = blockSize;
    t->pos = offset;
    t->timeoutMs = timeoutS * 1000;
    t->deadlineMs = core.Now() + t->timeoutMs;
    session.transfer = t;
    return QByteArray();
}

QByteArray SimInitFileSystem(CSimCore& core)
{
    if (core.files.fsinitNext > 0 && core.files.fsinitNext < core.files.fsinitSteps.size()) {
        return kErrBusy;
    }
    core.files.files.clear();
    core.files.current.clear();
    core.outputs.erase(QStringLiteral("/cur/log"));
    if (core.files.fsinitSteps.empty()) {
        core.files.fsinitSteps = {{120, 0}, {120, 30}, {120, 60}, {120, 90}, {120, 120}};
    }
    core.files.fsinitNext = 0;
    return QByteArray();
}

bool SimFilesValue(const CSimCore& core, const QString& path, QString* value)
{
    const SimFiles& fs = core.files;
    if (path == QLatin1String("/par/dev/blk/a/files")) {
        *value = QString::number(int64_t(fs.files.size()) + fs.countDelta);
    } else if (path == QLatin1String("/par/dev/blk/a/free")) {
        const CParamStore::Entry* size = core.params->Find(QStringLiteral("/par/dev/blk/a/size"));
        const int64_t total = size ? size->value.toLongLong() : 0;
        *value = QString::number(std::max<int64_t>(0, total - fs.UsedBytes()));
    } else if (path == QLatin1String("/cur/log")) {
        *value = fs.current.isEmpty() ? QString() : QStringLiteral("/log/") + fs.current;
    } else if (path == QLatin1String("/cur/log&size")) {
        const auto it = fs.files.find(fs.current);
        *value = QString::number(it == fs.files.end() ? 0 : it->second.content.size());
    } else if (path == QLatin1String("/log/&[name,size,time]")) {
        QStringList records;
        for (const auto& [name, f] : fs.files) {
            records << QStringLiteral("{%1,%2,%3}").arg(name).arg(f.content.size()).arg(f.time);
        }
        *value = (fs.listingFault == SimListingFault::LeadingBlank ? QStringLiteral(" {") : QStringLiteral("{")) +
                 records.join(QLatin1Char(',')) + QLatin1Char('}');
    } else if (path == QLatin1String("/par/stat/fsinit")) {
        if (fs.fsinitSteps.empty()) {
            *value = QStringLiteral("{0,0}");
        } else {
            auto& mfs = const_cast<SimFiles&>(fs);  // each query moves the initialisation on
            const auto step = fs.fsinitSteps[std::min(fs.fsinitNext, fs.fsinitSteps.size() - 1)];
            mfs.fsinitNext = std::min(fs.fsinitNext + 1, fs.fsinitSteps.size());
            *value =
                step.first < 0 ? QStringLiteral("busy") : QStringLiteral("{%1,%2}").arg(step.first).arg(step.second);
        }
    } else if (path == QLatin1String("/par/stat/rw")) {
        if (!fs.haveRwStats) {
            return false;
        }
        *value = QStringLiteral("{{%1,0,0},{%2,1,0}}").arg(fs.reads).arg(fs.writes);
    } else if (path.startsWith(QLatin1String("/log/")) && path.endsWith(QLatin1String("&size"))) {
        const auto it = fs.files.find(path.mid(5, path.size() - 10));
        if (it == fs.files.end()) {
            return false;
        }
        *value = QString::number(it->second.content.size());
    } else {
        return false;
    }
    return true;
}

void SimTransferInput(CSimCore& core, SimSession& session, char c)
{
    SimTransfer& t = *session.transfer;
    t.deadlineMs = core.Now() + t.timeoutMs;
    if (c == kNak) {
        SendCurrent(core, session);
    } else if (c == kAck) {
        if (t.current.isEmpty()) {
            return;  // nothing sent yet
        }
        if (TakeFault(core, t, SimTransferFault::LoseAck)) {
            core.SendMessages(session, t.current);  // as if the ACK never came: the same block again
            return;
        }
        if (t.currentLast) {
            EndTransfer(session);
            return;
        }
        t.crcBefore = t.crcAfter;
        t.pos += t.blockSize;
        ++t.number;
        ++t.index;
        t.current.clear();
        SendCurrent(core, session);
    } else if (c >= 0x21 && c <= 0x2F) {
        EndTransfer(session);
    }
}

void SimTransferTick(CSimCore& core, int64_t nowMs)
{
    for (auto& [id, s] : core.sessions) {
        if (s->transfer && nowMs > s->transfer->deadlineMs) {
            EndTransfer(*s);
        }
    }
}
