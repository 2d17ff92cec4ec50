// The KVS reader and the RINEX writer on any bytes. Oracles: epochs come out in strictly increasing time, none
// without satellites, GLONASS satellites with a known slot only; the RINEX text keeps its header lines within 80
// columns and every epoch line in its columns; every value's field is what printf makes of it.
#include "FuzzSupport.h"

#include "rinex/KvsReader.h"
#include "rinex/RinexWriter.h"

#include <QTimeZone>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

void CheckField(double v)
{
    char b[512];
    const int n = std::isfinite(v) ? std::snprintf(b, sizeof b, "%14.3f", v) : 0;
    const QByteArray expected = n == 14 ? QByteArray(b, n) : QByteArray(14, ' ');
    if (CRinexWriter::Fixed(v, 14, 3) != expected) {
        FuzzFail("kvsreader", "a field unlike printf's: " + expected.toStdString());
    }
}

}  // namespace

void FuzzKvsReader(const uint8_t* data, size_t size)
{
    const KvsResult r = CKvsReader::Read(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (size_t i = 0; i < r.epochs.size(); ++i) {
        const KvsEpoch& e = r.epochs[i];
        if (e.sats.empty()) {
            FuzzFail("kvsreader", "an epoch without satellites");
        }
        if (i > 0 && !(r.epochs[i - 1].gpsTime < e.gpsTime)) {
            FuzzFail("kvsreader", "epochs out of time order");
        }
        for (const KvsSatellite& s : e.sats) {
            if (s.system == KvsSystem::Glonass && (s.prn < 1 || s.prn > 99)) {
                FuzzFail("kvsreader", "a GLONASS satellite without its slot: " + std::to_string(s.prn));
            }
            CheckField(-s.doppler);
            for (const KvsSignal& g : s.signal) {
                CheckField(g.phase);
                CheckField(g.pseudorange * 299792458.0);
            }
        }
    }
    RinexOptions o;
    o.created = QDateTime::fromMSecsSinceEpoch(0, QTimeZone::utc());
    const QByteArray text = CRinexWriter::Observation(r, {}, o);
    bool header = true;
    for (const QByteArray& line : text.split('\n')) {
        if (header && line.size() > 80) {
            FuzzFail("kvsreader", "a header line longer than 80 columns: " + line.toStdString());
        }
        if (header && line.mid(60).trimmed() == "END OF HEADER") {
            header = false;
        } else if (!header && line.startsWith('>') && (line.size() != 35 || line[31] != '0')) {
            FuzzFail("kvsreader", "an epoch line out of its columns: " + line.toStdString());
        }
    }
}
