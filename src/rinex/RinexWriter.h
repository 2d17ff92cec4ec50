#pragma once

#include "rinex/KvsReader.h"

#include <QMap>
#include <QString>

// Header fields of the converter's header file ("profile.ini": "KEY= value" lines under "[KVS2RIN]").
struct RinexHeaderInfo
{
    QMap<QString, QString> fields;  // "RUN BY", "OBSERVER", "MARKER NAME", "REC TYPE", "ANT DELTA H", ...
    QString Field(const char* key) const { return fields.value(QLatin1String(key)); }
    static RinexHeaderInfo Parse(const QByteArray& profileText);
};

struct RinexOptions
{
    bool noGps = false, noGlonass = false, noL1 = false, noL2 = false;
    QString program = QStringLiteral("kvs2rin");
    QDateTime created;  // the "PGM / RUN BY / DATE" time; now when invalid
    // The recording's file name, named in a COMMENT line: a later conversion of the same recording may replace
    // the file, one of another recording that got the same name may not.
    QString source;
};

// Writes RINEX 3.04 observation files.
class CRinexWriter
{
public:
    // The whole file for `data`. A value that does not fit its field, or NaN, is left blank. `epochsWritten` gets
    // the number of epochs with at least one observation.
    static QByteArray Observation(const KvsResult& data, const RinexHeaderInfo& info, const RinexOptions& options,
                                  int* epochsWritten = nullptr);
    // The navigation file (GPS and GLONASS ephemerides) in RINEX 3.04, angles in radians, GLONASS in km.
    static QByteArray Navigation(const KvsResult& data, const RinexHeaderInfo& info, const RinexOptions& options);
    // RINEX 3 long name: station (4) + monument and receiver digits "00" + "XXX" (country not known), data source
    // R, start time, period, rate, mixed or single-system observations. The station is the marker name (else
    // `fallback`) cut to its first four letters and digits, upper case, padded with "0".
    static QString LongName(const KvsResult& data, const QString& markerName, const QString& fallback,
                            const RinexOptions& options, const QString& kind = QString());
    // The observation interval in seconds (the most frequent epoch spacing), 0 when fewer than two epochs.
    static double Interval(const KvsResult& data);
    // The COMMENT line naming the recording; empty without one.
    static QByteArray SourceComment(const QString& source);
    // F14.3-style field: `width` columns, `decimals` after the point; blank when NaN or too wide.
    static QByteArray Fixed(double value, int width, int decimals);
};
