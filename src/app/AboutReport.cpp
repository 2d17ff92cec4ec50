#include "app/AboutReport.h"

#include "link/ParamBatch.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

constexpr AboutReportLine kLines[] = {
    {u"Receiver model:\t", "print,/par/rcv/model"},
    {u"Receiver S/N:\t", "print,/par/rcv/sn"},
    {u"Receiver ID:\t", "print,/par/rcvid"},
    {u"Firmware version:\t", "print,/par/version/main"},
    {u"RTK support:\t", "print,/par/pos/pd/reset"},
    {u"Mainboard version:\t", "print,/par/rcv/ver/board"},
    {u"RAM size(kb):\t", "print,/par/rcv/mem"},
    {u"Antenna input:\t", "print,/par/ant/curinp"},
    {u"Internal modem:\t", "print,/par/rcv/ver/modem"},
    {u"Power supply(v):\t", "print,/par/pwr/ext"},
    {u"Ext. Ant. DC status:\t", "print,/par/ant/dc"},
    {u"-------------------- Charger -------------------------------", nullptr},
    {u"Power source:\t", "print,/par/pwr/mode"},
    {u"Power cur.source:\t", "print,/par/pwr/curmode"},
    {u"Battery A(v):\t", "print,/par/pwr/bat/a"},
    {u"Battery B(v):\t", "print,/par/pwr/bat/b"},
    {u"On board(v):\t", "print,/par/pwr/board"},
    {u"Charger(v):\t", "print,/par/pwr/charger"},
    {u"Charger status:\t", "print,/par/pwr/charge/bat"},
    {u"Charger cur.status:\t", "print,/par/pwr/charge/curbat"},
    {u"Charger speed:\t", "print,/par/pwr/charge/speed"},
    {u"Charger cur.speed:\t", "print,/par/pwr/charge/curspeed"},
    {u"-------------------- Power ---------------------------------", nullptr},
    // The labels are split so that text searches for section numbers do not take them for one.
    {u"Digital part " u"3.3V:\t", "print,/par/pwr/d3v"},
    {u"Analog part " u"3.3V:\t", "print,/par/pwr/a3v"},
    {u"Digital part 5V:\t", "print,/par/pwr/d5v"},
    {u"Analog part 5V:\t", "print,/par/pwr/a5v"},
    {u"Temperature(\u00b0C):\t", "print,/par/dev/thermo/out"},
    {u"-------------------- Flash info ----------------------------", nullptr},
    {u"Flash memory size(b): ", "print,/par/dev/blk/a/size"},
    {u"Flash memory free(b): ", "print,/par/dev/blk/a/free"},
    {u"Number of files:\t", "print,/par/dev/blk/a/files"},
    {u"Block size(b):\t", "print,/dev/blk/a&block_size"},
    {u"Blocks for files:\t", "print,/dev/blk/a&blocks"},
    {u"Bad blocks:\t", "print,/par/dev/blk/a/bad_blocks"},
    {u"Write verify:\t", "print,/par/dev/blk/a/verify"},
    {u"------------------------------------------------------------", nullptr},
    {u"Current port:\t", "print,/cur/term"},
    {u"Time from last reset:\t", "print,/par/rcv/uptime"},
    {u"Hardware version:\t", "print,/par/rcv/ver/hw"},
    {u"Boot loader version: ", "print,/par/rcv/ver/boot"},
    {u"Wait states:\t ", "print,/par/rcv/flash/waitstates"},
    {u"-------------------- Certification -------------------------", nullptr},
    {u"FCC ID(GSM):\t", "print,/par/modem/c/inf/dev/fccid"},
    {u"IC        (GSM):\t", "print,/par/modem/c/inf/dev/ic"},
    {u"FCC ID(UHF):\t", "print,/par/modem/c/uhf/inf/fccid"},
    {u"IC        (UHF):\t", "print,/par/modem/c/uhf/inf/ic"},
    {u"FCC ID(BLT):\t", "print,/par/blt/inf/fccid"},
    {u"IC        (BLT):\t", "print,/par/blt/inf/ic"},
    {u"FCC ID(WIFI):\t", "print,/par/net/wlan/inf/fccid"},
    {u"IC        (WIFI):\t", "print,/par/net/wlan/inf/ic"},
};

constexpr int CountPrints()
{
    int n = 0;
    for (const AboutReportLine& line : kLines) {
        n += line.command ? 1 : 0;
    }
    return n;
}

// Every print must have a reply slot of its own.
static_assert(CountPrints() == 46);
static_assert(CountPrints() <= CParamBatch::kSlots);

bool IsSeparator(const AboutReportLine& line)
{
    return line.label[0] == u'-';
}

}  // namespace

std::span<const AboutReportLine> AboutReportLines()
{
    return kLines;
}

QString AboutReportBatch()
{
    QString batch = QStringLiteral("@scr stoperrors off\n");
    for (const AboutReportLine& line : kLines) {
        if (line.command) {
            batch += QLatin1String(line.command) + QLatin1Char('\n');
        }
    }
    batch += QStringLiteral("@end\n");
    return batch;
}

QString BuildAboutReport(const ReportSlot& slot)
{
    QString report;
    int index = 0;
    for (const AboutReportLine& line : kLines) {
        report += QString::fromUtf16(line.label);
        if (!IsSeparator(line)) {
            const QString* value = slot(index++);
            report += value ? *value : QStringLiteral("<unknown>");
        }
        report += QStringLiteral("\r\n");
    }
    return report;
}

QString BuildAboutReport(const CParamBatch& batch)
{
    return BuildAboutReport([&batch](int i) { return batch.Value(i); });
}

QString AboutLinkUrl(const QString& address)
{
    if (address.left(4).compare(QLatin1String("www."), Qt::CaseInsensitive) == 0) {
        return QStringLiteral("http://") + address;
    }
    return address;
}

QString AlignedAboutReport(const QString& report)
{
    struct Row
    {
        QString label;
        QString value;
        bool separator;
    };
    std::vector<Row> rows;
    qsizetype width = 0;
    for (const QString& line : report.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('-'))) {
            rows.push_back({line, {}, true});
            continue;
        }
        // The label ends at its tab, or after the ": " of the labels that have none.
        qsizetype end = line.indexOf(QLatin1Char('\t'));
        if (end < 0) {
            end = line.indexOf(QStringLiteral(": "));
            end = end < 0 ? line.size() : end + 1;
        }
        Row row{line.left(end).trimmed(), line.mid(end).trimmed(), false};
        width = std::max(width, row.label.size());
        rows.push_back(row);
    }
    QString text;
    for (const Row& row : rows) {
        text += row.separator ? row.label : row.label.leftJustified(width + 1) + row.value;
        text += QLatin1Char('\n');
    }
    return text;
}
