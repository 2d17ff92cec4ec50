#include "sim/SimMessages.h"

#include "link/Checksum.h"

#include <cmath>

namespace {

// Every stream id the receiver can output.
const char* const kKvsIds[] = {
    "~~", "::", "==", "||", "RD", "PG", "PO", "VE", "PV", "SG", "DP", "DO", "OO", "TT", "XA", "XB",
    "SI", "NN", "EL", "AZ", "EC", "E1", "E2", "E3", "E5", "TC", "SS", "DC", "FC", "F1", "F2", "RC",
    "R1", "R2", "PC", "P1", "P2", "GA", "NA", "GE", "NE", "SE", "MS", "GS", "NS", "WL",
    // The log header frames, output like messages when asked for.
    "KV", "MF",
};

struct PredefinedSet
{
    const char* path;
    const char* ids;
    bool rtk;
};

const PredefinedSet kSets[] = {
    {"/msg/def", "MF,~~,RD,SI,NN,EL,AZ,EC,SS,TT,PG,PV,DP,SG,||", false},
    {"/msg/rtk/kvs/min", "~~,RD,SI,NN,RC,PC,P2,||", true},
    {"/msg/rtk/kvs/max", "~~,RD,SI,NN,RC,R2,PC,P2,DC,EC,E2,||", true},
};

constexpr int64_t kMaxPeriodMs = 86400000;
constexpr int64_t kMinPeriodMs = 10;

bool IsDigits(const QString& s, int minLen, int maxLen)
{
    if (s.size() < minLen || s.size() > maxLen) {
        return false;
    }
    for (const QChar c : s) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    return true;
}

bool IsUpperWord(const QString& s, int minLen, int maxLen)
{
    if (s.size() < minLen || s.size() > maxLen) {
        return false;
    }
    for (const QChar c : s) {
        if (c < QLatin1Char('A') || c > QLatin1Char('Z')) {
            return false;
        }
    }
    return true;
}

// The canonical path of one message of a family, or empty when there is no such message.
QString MessagePath(const QString& family, const QString& id)
{
    if (family == QLatin1String("kvs")) {
        const QByteArray wire = KvsStreamId(id);
        return IsKnownKvsId(wire) ? QStringLiteral("/msg/kvs/") + QString::fromLatin1(wire) : QString();
    }
    if (family == QLatin1String("rtcm")) {
        return IsDigits(id, 1, 2) && id.toInt() >= 1 && id.toInt() <= 63 ? QStringLiteral("/msg/rtcm/") + id
                                                                         : QString();
    }
    if (family == QLatin1String("rtcm3")) {
        return IsDigits(id, 4, 4) && id.toInt() >= 1001 && id.toInt() <= 1300 ? QStringLiteral("/msg/rtcm3/") + id
                                                                              : QString();
    }
    if (family == QLatin1String("cmr")) {
        return IsDigits(id, 1, 2) && id.toInt() <= 15 ? QStringLiteral("/msg/cmr/") + id : QString();
    }
    if (family == QLatin1String("nmea")) {
        return IsUpperWord(id, 3, 5) ? QStringLiteral("/msg/nmea/") + id : QString();
    }
    return QString();
}

// Index of the first ':' outside braces, or -1.
int OptionsColon(const QString& spec)
{
    int depth = 0;
    for (int i = 0; i < spec.size(); ++i) {
        const QChar c = spec[i];
        if (c == QLatin1Char('{')) {
            ++depth;
        } else if (c == QLatin1Char('}')) {
            --depth;
        } else if (c == QLatin1Char(':') && depth == 0) {
            return i;
        }
    }
    return -1;
}

bool ParseSeconds(const QString& text, int64_t* ms)
{
    bool ok = false;
    const double s = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(s) || s < 0 || s > kMaxPeriodMs / 1000.0) {
        return false;
    }
    *ms = std::llround(s * 1000.0);
    return true;
}

// "{period,phase,count,flags}" or "period"; empty fields keep `base`.
MsgSpecError ParseOptions(const QString& text, const MsgOutput& base, MsgOutput* out)
{
    *out = base;
    QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('{'))) {
        if (!t.endsWith(QLatin1Char('}'))) {
            return MsgSpecError::Unknown;
        }
        t = t.mid(1, t.size() - 2);
    }
    const QStringList f = t.split(QLatin1Char(','));
    if (f.size() > 4) {
        return MsgSpecError::Unknown;
    }
    if (!f[0].trimmed().isEmpty()) {
        if (!ParseSeconds(f[0], &out->periodMs)) {
            return MsgSpecError::OutOfRange;
        }
    }
    if (out->periodMs < kMinPeriodMs) {
        return MsgSpecError::OutOfRange;
    }
    if (f.size() > 1 && !f[1].trimmed().isEmpty()) {
        if (!ParseSeconds(f[1], &out->phaseMs)) {
            return MsgSpecError::OutOfRange;
        }
    }
    out->phaseMs %= out->periodMs;
    if (f.size() > 2 && !f[2].trimmed().isEmpty()) {
        bool ok = false;
        out->count = f[2].trimmed().toLongLong(&ok);
        if (!ok || out->count < -1 || out->count == 0) {
            return MsgSpecError::OutOfRange;
        }
    }
    if (f.size() > 3 && !f[3].trimmed().isEmpty()) {
        bool ok = false;
        out->flags = f[3].trimmed().toInt(&ok);
        if (!ok) {
            return MsgSpecError::Unknown;
        }
    }
    return MsgSpecError::None;
}

MsgSpecError ExpandOne(const QString& rawPath, const MsgOutput& output, bool rtk, std::vector<MsgRequest>* out)
{
    QString path = rawPath.trimmed();
    if (!path.startsWith(QLatin1Char('/'))) {
        path = QStringLiteral("/msg/") + path;
    }
    for (const PredefinedSet& set : kSets) {
        if (path == QLatin1String(set.path)) {
            if (set.rtk && !rtk) {
                return MsgSpecError::Unknown;
            }
            for (const QString& id : QString::fromLatin1(set.ids).split(QLatin1Char(','))) {
                out->push_back({QStringLiteral("/msg/kvs/") + id, output});
            }
            return MsgSpecError::None;
        }
    }
    if (!path.startsWith(QLatin1String("/msg/"))) {
        return MsgSpecError::Unknown;
    }
    const QString rest = path.mid(5);
    const int slash = rest.indexOf(QLatin1Char('/'));
    if (slash <= 0) {
        return MsgSpecError::Unknown;
    }
    const QString canonical = MessagePath(rest.left(slash), rest.mid(slash + 1));
    if (canonical.isEmpty()) {
        return MsgSpecError::Unknown;
    }
    out->push_back({canonical, output});
    return MsgSpecError::None;
}

}  // namespace

bool IsKnownKvsId(const QByteArray& id)
{
    for (const char* k : kKvsIds) {
        if (id == k) {
            return true;
        }
    }
    return false;
}

QStringList KnownKvsIds()
{
    QStringList ids;
    for (const char* k : kKvsIds) {
        ids << QString::fromLatin1(k);
    }
    return ids;
}

int EpochRank(const QByteArray& id)
{
    // Time first, satellite lists in the order of their index list, then the solution, then the rest;
    // the epoch ends last.
    static const char* const kOrder[] = {
        "KV", "MF", "~~", "RD", "SI", "NN", "EL", "AZ", "EC", "E1", "E2", "E3", "E5", "TC", "SS", "DC", "FC", "F1",
        "F2", "RC", "R1", "R2", "PC", "P1", "P2", "GS", "NS", "PG", "PO", "VE", "PV", "SG", "DP", "DO",
        "OO", "TT", "XA", "XB", "MS", "SE", "GA", "NA", "GE", "NE", "WL", "==", "::", "||",
    };
    int rank = 0;
    for (const char* k : kOrder) {
        if (id == k) {
            return rank;
        }
        ++rank;
    }
    return rank - 2;  // unknown ids before the epoch end
}

QByteArray BinaryFrame(const char id[2], const QByteArray& body)
{
    QByteArray frame;
    frame.reserve(body.size() + 7);
    frame.append(id, 2);
    frame.append(QByteArray::number(body.size() + 1, 16).toUpper().rightJustified(3, '0'));
    frame.append(body);
    frame.append(static_cast<char>(Checksum8(frame.constData(), size_t(frame.size()))));
    frame.append('\n');
    return frame;
}

QStringList SplitArguments(const QString& text)
{
    QStringList args;
    QString current;
    int depth = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && (c == QLatin1Char('{') || c == QLatin1Char('['))) {
            ++depth;
        } else if (!quoted && (c == QLatin1Char('}') || c == QLatin1Char(']')) && depth > 0) {
            --depth;
        } else if (!quoted && depth == 0 && c == QLatin1Char(',')) {
            args << current;
            current.clear();
            continue;
        }
        current += c;
    }
    args << current;
    return args;
}

MsgSpecError ParseMessageSpecs(const QStringList& specs, bool withOptions, bool rtk, std::vector<MsgRequest>* out)
{
    for (const QString& rawSpec : specs) {
        const QString spec = rawSpec.trimmed();
        if (spec.isEmpty()) {
            return MsgSpecError::Unknown;
        }
        QString name = spec;
        MsgOutput output;
        const int colon = OptionsColon(spec);
        if (colon >= 0) {
            if (!withOptions) {
                return MsgSpecError::Unknown;
            }
            name = spec.left(colon);
            const MsgSpecError e = ParseOptions(spec.mid(colon + 1), MsgOutput{}, &output);
            if (e != MsgSpecError::None) {
                return e;
            }
        }
        const int brace = name.indexOf(QLatin1Char('{'));
        if (brace < 0) {
            const MsgSpecError e = ExpandOne(name, output, rtk, out);
            if (e != MsgSpecError::None) {
                return e;
            }
            continue;
        }
        // A group: prefix{/a[:opts],/b[:opts],...}; the group's own options are the default of its items.
        if (!name.endsWith(QLatin1Char('}'))) {
            return MsgSpecError::Unknown;
        }
        QString prefix = name.left(brace).trimmed();
        if (prefix.endsWith(QLatin1Char('/'))) {
            prefix.chop(1);
        }
        const QStringList items = SplitArguments(name.mid(brace + 1, name.size() - brace - 2));
        for (const QString& rawItem : items) {
            const QString item = rawItem.trimmed();
            if (!item.startsWith(QLatin1Char('/')) || item.size() < 2) {
                return MsgSpecError::Unknown;
            }
            QString id = item.mid(1);
            MsgOutput itemOutput = output;
            const int itemColon = OptionsColon(id);
            if (itemColon >= 0) {
                if (!withOptions) {
                    return MsgSpecError::Unknown;
                }
                const MsgSpecError e = ParseOptions(id.mid(itemColon + 1), output, &itemOutput);
                if (e != MsgSpecError::None) {
                    return e;
                }
                id = id.left(itemColon);
            }
            const MsgSpecError e = ExpandOne(prefix + QLatin1Char('/') + id, itemOutput, rtk, out);
            if (e != MsgSpecError::None) {
                return e;
            }
        }
    }
    return MsgSpecError::None;
}
