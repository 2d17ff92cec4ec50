#include "app/StatusLegend.h"

#include "app/ReceiverState.h"

namespace {

// The abbreviations of the Location page and the fields below the lists, in the order they are shown.
const struct
{
    const char* key;
    const char* meaning;
} kFieldTips[] = {
    {"Lat:", "Latitude, degrees, minutes and seconds"},
    {"Lon:", "Longitude, degrees, minutes and seconds"},
    {"Alt:", "Height of the position in metres"},
    {"ETT:", "East to target: metres east from here to the target, negative when it lies west"},
    {"NTT:", "North to target: metres north from here to the target, negative when it lies south"},
    {"DTT:", "Distance to target in metres"},
    {"CTT:", "Course to target: the direction of the target from north, clockwise"},
    {"X:", "Earth-centred X coordinate in metres"},
    {"Y:", "Earth-centred Y coordinate in metres"},
    {"Z:", "Earth-centred Z coordinate in metres"},
    {"Vel:", "Speed in metres per second"},
    {"RMS Pos:", "Root mean square error of the position in metres"},
    {"RMS Vel:", "Root mean square error of the velocity in metres per second"},
    {"PDOP:", "Position dilution of precision: how the satellites' geometry magnifies errors in 3D"},
    {"HDOP:", "Horizontal dilution of precision: the same for the horizontal position"},
    {"Osc. offset:", "Offset of the receiver's oscillator from its nominal frequency, parts per million"},
    {"Clock offset:", "Drift of the receiver's clock, parts per million"},
    {"LQ:", "Link quality: the share of correction messages received intact, with their counts"},
};

const QString kSignalTip = QStringLiteral("Signal strength C/N0 of the %1 signal in dB-Hz; \"??\": not tracked");

QString SignalName(int list, int column)
{
    return SatColumnTitles(list).value(column);
}

}  // namespace

SolutionKind SolutionKindOf(const QString& text)
{
    static const struct
    {
        const char* text;
        SolutionKind kind;
    } kTexts[] = {
        {kNoDataText, SolutionKind::NoData},         {"(no solution)", SolutionKind::None},
        {"(standalone)", SolutionKind::Standalone},  {"standalone", SolutionKind::Standalone},
        {"(code differential)", SolutionKind::Dgps}, {"(RTK float)", SolutionKind::Float},
        {"(RTK fixed)", SolutionKind::Fixed},
    };
    for (const auto& entry : kTexts) {
        if (text == QLatin1String(entry.text)) {
            return entry.kind;
        }
    }
    return SolutionKind::Unknown;
}

SolutionLook SolutionLookOf(SolutionKind kind)
{
    switch (kind) {
        case SolutionKind::NoData:
            return {QColor(0xE0, 0xE0, 0xE0), QColor(0x42, 0x42, 0x42),
                    QStringLiteral("No data: no position from the receiver yet, or none since its stream stopped")};
        case SolutionKind::None:
            return {QColor(0xB7, 0x1C, 0x1C), Qt::white, QStringLiteral("No position: the receiver has no solution")};
        case SolutionKind::Standalone:
            return {QColor(0xFF, 0xD5, 0x4F), Qt::black,
                    QStringLiteral("Standalone: the receiver's own position, a few metres of error")};
        case SolutionKind::Dgps:
            return {QColor(0x15, 0x65, 0xC0), Qt::white,
                    QStringLiteral("DGPS: corrected with a base station's code corrections, about a metre")};
        case SolutionKind::Float:
            return {QColor(0xEF, 0x6C, 0x00), Qt::black,
                    QStringLiteral("RTK float: carrier-phase corrections, ambiguities not fixed yet, decimetres")};
        case SolutionKind::Fixed:
            return {QColor(0x1B, 0x5E, 0x20), Qt::white,
                    QStringLiteral("RTK fixed: carrier-phase ambiguities fixed, centimetres")};
        case SolutionKind::Unknown:
            break;
    }
    return {QColor(), QColor(), QStringLiteral("Solution type of the last position")};
}

QString SatColumnTip(int list, int column)
{
    const bool glonass = list == kListGlonass;
    if (glonass && column == 0) {
        return QStringLiteral("Sn: GLONASS slot number");
    }
    switch (SatColumn(glonass ? column - 1 : column)) {
        case kColNumber:
            return glonass ? QStringLiteral("Fn: GLONASS frequency channel")
                   : list == kListGps
                       ? QStringLiteral("Satellite number; \"*\": no almanac for it yet; \"??\": unknown")
                       : QStringLiteral("Satellite number; \"??\": unknown");
        case kColEl:
            return QStringLiteral(
                "Elevation in degrees; \"??\": unknown. Doppler check: \"^\" agrees with the satellite's motion "
                "(within 1 Hz), \"+\" above it, \"--\" below it");
        case kColAz:
            return QStringLiteral("Azimuth in degrees; \"??\": unknown");
        case kColTc:
            return QStringLiteral(
                "Time tracked: \":ss\" seconds under a minute, else minutes; \"inf\": too long to "
                "count");
        case kColSs:
            return QStringLiteral(
                "Navigation status code; \"+\": used in the position (codes 00-03 and 51-55), "
                "\"-\": not used");
        case kColCa:
        case kColP1:
        case kColP2:
        case kColL2:
        case kColL5:
            return kSignalTip.arg(SignalName(list, column));
    }
    return QString();
}

QString SatSummaryTip()
{
    return QStringLiteral("Satellites in view: GPS : GLONASS : GALILEO : SBAS");
}

QString FieldTip(const QString& key)
{
    for (const auto& entry : kFieldTips) {
        if (key == QLatin1String(entry.key)) {
            return QString::fromLatin1(entry.meaning);
        }
    }
    return QString();
}

QString StatusLegendText()
{
    QString text = QStringLiteral("<p><b>Solution</b></p><table cellspacing=\"2\">");
    for (SolutionKind kind : {SolutionKind::NoData, SolutionKind::None, SolutionKind::Standalone, SolutionKind::Dgps,
                              SolutionKind::Float, SolutionKind::Fixed}) {
        const SolutionLook look = SolutionLookOf(kind);
        const QString name = look.tip.section(QLatin1Char(':'), 0, 0);
        text += QStringLiteral("<tr><td style=\"background:%1;color:%2\">&nbsp;%3&nbsp;</td><td>%4</td></tr>")
                    .arg(look.background.name(), look.text.name(), name.toHtmlEscaped(),
                         look.tip.section(QLatin1Char(':'), 1).trimmed().toHtmlEscaped());
    }
    text += QStringLiteral("</table><p><b>Satellite lists</b></p><table cellspacing=\"2\">");
    const auto row = [&text](const QString& key, const QString& meaning) {
        text +=
            QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(key.toHtmlEscaped(), meaning.toHtmlEscaped());
    };
    // Every column title of every list once; where the lists share a title its meaning is the same.
    QStringList seen;
    for (int list : {kListGlonass, kListGps, kListGalileo}) {
        const QStringList titles = SatColumnTitles(list);
        for (int c = 0; c < titles.size(); ++c) {
            if (seen.contains(titles[c])) {
                continue;
            }
            seen << titles[c];
            QString tip = SatColumnTip(list, c);
            if (tip.startsWith(titles[c] + QStringLiteral(": "))) {
                tip.remove(0, titles[c].size() + 2);
            }
            row(titles[c], tip);
        }
    }
    text += QStringLiteral("</table><p><b>Location and status</b></p><table cellspacing=\"2\">");
    for (const auto& entry : kFieldTips) {
        row(QString::fromLatin1(entry.key).chopped(1), QString::fromLatin1(entry.meaning));
    }
    text += QStringLiteral("</table><p>%1, e.g. \"13 : 9 : 10 : 3\"</p>").arg(SatSummaryTip().toHtmlEscaped());
    return text;
}
