// The command-line forms of a raw-data profile and of injected cycle slips.
#include "sim/MessageGenerator.h"

#include <QStringList>

#include <algorithm>
#include <iterator>

namespace {

bool Number(const QString& text, int low, int high, int* out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high) {
        return false;
    }
    *out = v;
    return true;
}

}  // namespace

bool ParseRawProfile(const QString& text, RawDataProfile* out, QString* error)
{
    static const char* const kScales[] = {"gps", "utc-usno", "glonass", "utc-su"};
    RawDataProfile p;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = item.section(QLatin1Char('='), 0, 0).trimmed();
        const QString value = item.section(QLatin1Char('='), 1).trimmed();
        bool ok = true;
        if (name == QLatin1String("si-on-change") && value.isEmpty()) {
            p.siOnlyOnChange = true;
        } else if (name == QLatin1String("unknown-slot")) {
            ok = Number(value, 1, 24, &p.unknownSlot);
        } else if (name == QLatin1String("no-channel-slot")) {
            ok = Number(value, 1, 24, &p.noChannelSlot);
        } else {
            const auto* scale = std::find(std::begin(kScales), std::end(kScales), name);
            ok = value.isEmpty() && scale != std::end(kScales);
            p.timeScale = ok ? int(scale - std::begin(kScales)) : p.timeScale;
        }
        if (!ok) {
            *error = QStringLiteral("bad raw-data profile item \"%1\"").arg(item);
            return false;
        }
    }
    *out = p;
    return true;
}

bool ParseCycleSlips(const QString& text, std::vector<CycleSlip>* out, QString* error)
{
    std::vector<CycleSlip> slips;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString t = item.trimmed();
        const qsizetype at = t.indexOf(QLatin1Char('@'));
        CycleSlip s;
        bool ok = at >= 2;
        if (ok) {
            switch (t[0].toUpper().toLatin1()) {
                case 'G':
                    s.system = GnssSystem::Gps;
                    break;
                case 'R':
                    s.system = GnssSystem::Glonass;
                    break;
                case 'E':
                    s.system = GnssSystem::Galileo;
                    break;
                case 'S':
                    s.system = GnssSystem::Sbas;
                    break;
                default:
                    ok = false;
            }
        }
        // Whole seconds: epochs fall on them, and only an epoch's lock flags can show the slip.
        int seconds = 0;
        ok = ok && Number(t.mid(1, at - 1), 1, 255, &s.number) && Number(t.mid(at + 1), 0, 1000000000, &seconds);
        if (!ok) {
            *error = QStringLiteral("bad cycle slip \"%1\" (satellite@seconds, e.g. G05@120)").arg(item);
            return false;
        }
        s.atMs = int64_t(seconds) * 1000;
        slips.push_back(s);
    }
    *out = std::move(slips);
    return true;
}
