#include "config/ports/PortTables.h"

#include "config/ConfigGlobals.h"
#include "config/Toolkit.h"
#include "link/ParamBatch.h"
#include "link/ReceiverHolder.h"
#include "link/ReceiverName.h"
#include "link/Scan.h"

#include <QRegularExpression>

#include <algorithm>
#include <limits>

const QStringList kBaudRates{"300",   "600",   "1200",   "2400",   "4800",   "9600",   "19200",
                             "38400", "57600", "115200", "153600", "230400", "460800", "1500000"};
const QStringList kInputModeValues{"none", "cmd", "echo", "rtcm", "rtcm3", "cmr", "kvs", "omni"};
const QStringList kInputModeLabels{"None", "Command", "Echo", "RTCM 2.x", "RTCM 3.x", "CMR", "KVS", "Omni"};
const QStringList kOutputPresetLabels{
    "None",
    "DGPS RTCM {1,31,3}",
    "DGPS RTCM {9,34,3}",
    "RTK RTCM {18,19,22,3}",
    "RTK RTCM {20,21,22,3}",
    "RTK RTCM {18,19,23,24}",
    "RTK RTCM {20,21,23,24}",
    "RTK RTCM3 GD min",
    "RTK RTCM3 GD full",
    "RTK RTCM3 GGD min",
    "RTK RTCM3 GGD full",
    "RTK CMR {10,0,1}",
    "RTK CMR+ {10,0,9}",
    "RTK KVS min",
    "RTK KVS max",
    "User Defined",
};
const QStringList kOutputPresetTemplates{
    "%%%%",
    "%%%%em,%s,rtcm{/1:%s,/31:%s,/3:10}",
    "%%%%em,%s,rtcm{/9:%s,/34:%s,/3:10}",
    "%%%%em,%s,rtcm{/18:%s,/19:%s,/22:10,/3:10}",
    "%%%%em,%s,rtcm{/20:%s,/21:%s,/22:10,/3:10}",
    "%%%%em,%s,rtcm{/18:%s,/19:%s,/23:10,/24:10}",
    "%%%%em,%s,rtcm{/20:%s,/21:%s,/23:10,/24:10}",
    "%%%%em,%s,rtcm3{/1003:%s,/1006:10,/1008:10}",
    "%%%%em,%s,rtcm3{/1004:%s,/1006:10,/1008:10}",
    "%%%%em,%s,rtcm3{/1003:%s,/1011:%s,/1006:10,/1008:10}",
    "%%%%em,%s,rtcm3{/1004:%s,/1012:%s,/1006:10,/1008:10}",
    "%%%%em,%s,cmr{/10:%s,/0:%s,/1:10}",
    "%%%%em,%s,cmr{/10:%s,/0:%s,/9:1}",
    "%%%%em,%s,/msg/rtk/kvs/min:%s",
    "%%%%em,%s,/msg/rtk/kvs/max:%s",
    "",
};
const QStringList kCanRates{"1000", "500", "250", "125"};

QString g_curTermPort;

namespace {

constexpr int kMaxItem = 31;
constexpr int kMaxPeriod = 7;

// The messages the receiver's predefined RTK sets expand to.
const QStringList kKvsMin{"kvs/RT", "kvs/RD", "kvs/SI", "kvs/NN", "kvs/RC", "kvs/PC", "kvs/P2", "kvs/EE"};
const QStringList kKvsMax{"kvs/RT", "kvs/RD", "kvs/SI", "kvs/NN", "kvs/RC", "kvs/R2",
                          "kvs/PC", "kvs/P2", "kvs/DC", "kvs/EC", "kvs/E2", "kvs/EE"};

struct Rule
{
    const char* names[4];
    bool sameParams;  // the first two entries carry one period
    const char* label;
    const char* periodOf;
};

const Rule kThree[] = {
    {{"rtcm/1", "rtcm/31", "rtcm/3"}, true, "DGPS RTCM {1,31,3}", "rtcm/1"},
    {{"rtcm/9", "rtcm/34", "rtcm/3"}, true, "DGPS RTCM {9,34,3}", "rtcm/9"},
    {{"cmr/10", "cmr/0", "cmr/1"}, true, "RTK CMR {10,0,1}", "cmr/0"},
    {{"cmr/10", "cmr/0", "cmr/9"}, true, "RTK CMR+ {10,0,9}", "cmr/0"},
    {{"rtcm3/1003", "rtcm3/1006", "rtcm3/1008"}, false, "RTK RTCM3 GD min", "rtcm3/1003"},
    {{"rtcm3/1004", "rtcm3/1006", "rtcm3/1008"}, false, "RTK RTCM3 GD full", "rtcm3/1004"},
};

const Rule kFour[] = {
    {{"rtcm/18", "rtcm/19", "rtcm/22", "rtcm/3"}, true, "RTK RTCM {18,19,22,3}", "rtcm/18"},
    {{"rtcm/20", "rtcm/21", "rtcm/22", "rtcm/3"}, true, "RTK RTCM {20,21,22,3}", "rtcm/20"},
    {{"rtcm/18", "rtcm/19", "rtcm/23", "rtcm/24"}, true, "RTK RTCM {18,19,23,24}", "rtcm/18"},
    {{"rtcm/20", "rtcm/21", "rtcm/23", "rtcm/24"}, true, "RTK RTCM {20,21,23,24}", "rtcm/20"},
    {{"rtcm3/1003", "rtcm3/1011", "rtcm3/1006", "rtcm3/1008"}, true, "RTK RTCM3 GGD min", "rtcm3/1003"},
    {{"rtcm3/1004", "rtcm3/1012", "rtcm3/1006", "rtcm3/1008"}, true, "RTK RTCM3 GGD full", "rtcm3/1004"},
};

bool Matches(const Rule& rule, const std::vector<PortMessage>& entries, int n)
{
    for (int i = 0; i < n; ++i) {
        if (entries[size_t(i)].name != QLatin1String(rule.names[i])) {
            return false;
        }
    }
    return !rule.sameParams || entries[0].params == entries[1].params;
}

bool IsSet(const std::vector<PortMessage>& entries, const QStringList& set)
{
    QStringList names;
    for (const PortMessage& e : entries) {
        names << e.name;
    }
    names.sort();
    QStringList wanted = set;
    wanted.sort();
    return names == wanted;
}

// The first field of a parameter text, or empty when it is longer than a period can be.
QString FirstField(const QString& params)
{
    const QString first = params.section(QLatin1Char(','), 0, 0).trimmed();
    return first.size() <= kMaxPeriod ? first : QString();
}

}  // namespace

bool IsControllerPort(const QString& port)
{
    if (!g_curTermPort.isEmpty()) {
        return port == g_curTermPort;
    }
    const QString name = g_configSheet ? g_configSheet->ReceiverName() : QString();
    switch (ParseReceiverName(name).kind) {
        case ReceiverAddress::Kind::Tcp:
            return port.startsWith(QLatin1String("/dev/tcp/"));
        case ReceiverAddress::Kind::Serial:
        case ReceiverAddress::Kind::Simulator:
            // A controller's serial device may be wired to a serial or the USB port of the receiver.
            return port.startsWith(QLatin1String("/dev/ser/")) || port.startsWith(QLatin1String("/dev/usb/"));
        case ReceiverAddress::Kind::Server:  // the server's own cable to the receiver is unknown here
        case ReceiverAddress::Kind::Invalid:
            break;
    }
    return true;  // nothing tells which port it is
}

QString MaxBaudRate(const QString* featureValue)
{
    const QString value = featureValue ? featureValue->trimmed() : QString();
    if (value.isEmpty() || value == QLatin1String("0") || !IsIntegerText(value)) {
        return QStringLiteral("0");
    }
    const long long v = value.toLongLong();
    if (v == 511) {
        return kBaudRates.last();
    }
    if (v <= 0) {
        return QStringLiteral("0");  // no rate is "above" a negative feature
    }
    for (const QString& rate : kBaudRates) {
        if (rate.toLongLong() > v * 1000) {
            return rate;
        }
    }
    return QStringLiteral("0");
}

bool ParsePortMessages(const QString& reply, std::vector<PortMessage>* out, int* count, int maxEntries)
{
    out->clear();
    *count = 0;
    const QString text = reply.trimmed();
    if (!text.startsWith(QLatin1Char('{')) || !text.endsWith(QLatin1Char('}'))) {
        return false;
    }
    int pos = 1;
    const int end = int(text.size()) - 1;  // the closing brace
    if (pos == end) {
        return true;  // "{}"
    }
    while (pos < end) {
        const int eq = int(text.indexOf(QLatin1Char('='), pos));
        if (eq < 0 || eq >= end || eq == pos || eq - pos > kMaxItem || text[eq + 1] != QLatin1Char('{')) {
            return false;
        }
        const int close = int(text.indexOf(QLatin1Char('}'), eq + 2));
        if (close < 0 || close >= end || close - (eq + 2) > kMaxItem) {
            return false;
        }
        const QString name = text.mid(pos, eq - pos);
        const QString params = text.mid(eq + 2, close - eq - 2);
        if (name.contains(QLatin1Char(',')) || name.contains(QLatin1Char('{')) || params.contains(QLatin1Char('{'))) {
            return false;
        }
        if (*count < maxEntries) {
            out->push_back({name, params});
        }
        ++*count;
        pos = close + 1;
        if (pos == end) {
            return true;
        }
        if (text[pos] != QLatin1Char(',')) {
            return false;
        }
        ++pos;
    }
    return false;  // a trailing comma
}

OutputPreset RecognizeOutputPreset(const QString* list)
{
    OutputPreset result;
    if (!list || !list->contains(QLatin1Char('{'))) {
        return result;
    }
    result.found = true;
    std::vector<PortMessage> entries;
    int n = 0;
    if (!ParsePortMessages(*list, &entries, &n)) {
        result.label = kPresetUserDefined;  // kept as it is: only a readable empty list means "None"
        return result;
    }
    if (n == 0) {
        result.label = kPresetNone;
        return result;
    }
    auto pick = [&](const auto& rules, int count) {
        for (const Rule& rule : rules) {
            if (n == count && Matches(rule, entries, count)) {
                result.label = QLatin1String(rule.label);
                result.period = MessagePeriod(*list, QLatin1String(rule.periodOf));
                return true;
            }
        }
        return false;
    };
    if (pick(kThree, 3) || pick(kFour, 4)) {
        return result;
    }
    // A list of a set's length is that set only when it holds the set's messages.
    if (n == 8 && IsSet(entries, kKvsMin)) {
        result.label = kOutputPresetLabels[13];
    } else if (n == 12 && IsSet(entries, kKvsMax)) {
        result.label = kOutputPresetLabels[14];
    } else {
        result.label = kPresetUserDefined;
        return result;
    }
    result.period = MessagePeriod(*list, QStringLiteral("kvs/RT"));
    return result;
}

QString MessagePeriod(const QString& list, const QString& name)
{
    std::vector<PortMessage> entries;
    int n = 0;
    ParsePortMessages(list, &entries, &n, 64);
    for (const PortMessage& e : entries) {
        if (e.name == name) {
            return FirstField(e.params);
        }
    }
    return QString();
}

QString OutputPresetCommand(int index, const QString& port, const QString& period)
{
    if (index < 0 || index >= kOutputPresetTemplates.size()) {
        return QString();
    }
    const QString& format = kOutputPresetTemplates[index];
    QString out;
    bool first = true;
    for (int i = 0; i < format.size(); ++i) {
        if (format[i] == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar next = format[i + 1];
            if (next == QLatin1Char('%')) {
                out += QLatin1Char('%');
                ++i;
                continue;
            }
            if (next == QLatin1Char('s')) {
                out += first ? port : period;
                first = false;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

bool CopyReferenceToArp(const QString& command)
{
    if (!command.contains(QLatin1String(",rtcm3{"))) {
        return true;
    }
    CParamBatch batch;
    if (!batch.Run(
            QStringLiteral("@scr stoperrors off\nprint,/par/ref/pos/gps/geo\nprint,/par/ref/pos/glo/geo\n@end\n"))) {
        return false;
    }
    const char* const paths[] = {"/par/ref/arp/gps/geo", "/par/ref/arp/glo/geo"};
    for (int i = 0; i < 2; ++i) {
        const QString* value = batch.Value(i);
        if (!value || value->isEmpty()) {
            continue;
        }
        if (!IsSafeParamValue(*value) ||
            !CReceiverHolder::Shared().Send(QStringLiteral("%%set,") + QLatin1String(paths[i]) + QLatin1Char(',') +
                                            *value)) {
            return false;
        }
    }
    return true;
}

bool ReadPortMessages(const QString& port, std::vector<PortMessage>* out)
{
    CReceiverHolder& holder = CReceiverHolder::Shared();
    if (!holder.Send(QStringLiteral("print,/par/out") + port + QStringLiteral(":on"))) {
        return false;
    }
    int count = 0;
    return ParsePortMessages(AnswerValue(holder.Reply()), out, &count, std::numeric_limits<int>::max()) &&
           count == int(out->size());
}

QString PortMessageItem(const PortMessage& message)
{
    return message.name + QStringLiteral(":{") + message.params + QLatin1Char('}');
}

bool ScanInt(const QString* value, long long* out)
{
    if (!value) {
        return false;
    }
    static const QRegularExpression kLeading(QStringLiteral("^\\s*([+-]?[0-9]{1,15})"));
    const QRegularExpressionMatch m = kLeading.match(*value);
    if (!m.hasMatch()) {
        return false;
    }
    *out = m.captured(1).toLongLong();
    return true;
}
