#pragma once

// One second of a receiver's message stream for the benchmarks: 40 satellites and every message of the main
// view's table, framed as a receiver sends them.
#include "link/Checksum.h"

#include <QByteArray>
#include <QtEndian>

#include <cstring>

namespace benchdata {

inline constexpr int kSatellites = 40;

inline QByteArray Frame(const char* id, const QByteArray& payload)
{
    QByteArray f =
        QByteArray(id, 2) + QByteArray::number(payload.size() + 1, 16).toUpper().rightJustified(3, '0') + payload;
    f += char(Checksum8(f.constData(), size_t(f.size())));
    return f + '\n';
}

template <typename T>
inline void Put(QByteArray& b, T v)
{
    v = qToLittleEndian(v);
    b.append(reinterpret_cast<const char*>(&v), sizeof v);
}

inline void PutF(QByteArray& b, float v)
{
    quint32 bits;
    std::memcpy(&bits, &v, sizeof v);
    Put(b, bits);
}

inline void PutD(QByteArray& b, double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof v);
    Put(b, bits);
}

// 10 GPS, 10 GLONASS, 10 Galileo, 10 SBAS satellites with every message the main view's table names.
inline QByteArray MakeEpoch(int second)
{
    QByteArray e;
    QByteArray b;
    Put<quint32>(b, quint32(second * 1000));
    e += Frame("~~", b);
    e += Frame("RD", QByteArray("\xE8\x07\x06\x01\x00", 5));
    QByteArray si, nn;
    for (int i = 0; i < 10; ++i) {
        si += char(1 + i * 3);
        si += char(38 + i);
        si += char(71 + i * 2);
        si += char(121 + i);
        nn += char(1 + i * 2);
    }
    e += Frame("SI", si);
    e += Frame("NN", nn);
    auto perSat = [&](const char* id, int width, int base) {
        QByteArray v;
        for (int i = 0; i < kSatellites; ++i) {
            for (int k = 0; k < width; ++k) {
                v += char((base + i * 7 + k) & 0x7F);
            }
        }
        e += Frame(id, v);
    };
    for (const char* id : {"EL", "AZ", "EC", "E1", "E2", "E3", "E5"}) {
        perSat(id, 1, second);
    }
    perSat("TC", 2, second);
    QByteArray ss;
    for (int i = 0; i < kSatellites; ++i) {
        ss += char(i % 4);
    }
    ss += char(1);
    e += Frame("SS", ss);
    perSat("DC", 4, second);
    QByteArray pv;
    for (double v : {3980000.0, 1000000.0, 4900000.0}) {
        PutD(pv, v);
    }
    PutF(pv, 1.5f);
    for (float v : {0.01f, 0.02f, 0.0f, 0.1f}) {
        PutF(pv, v);
    }
    pv += char(1);
    e += Frame("PV", pv);
    e += Frame("PO", pv.left(24) + QByteArray(4, '\0') + char(1));
    e += Frame("VE", pv.mid(28, 16) + char(1));
    QByteArray pg;
    PutD(pg, 0.874);
    PutD(pg, 0.2517);
    PutD(pg, 245.3);
    PutF(pg, 1.5f);
    pg += char(1);
    e += Frame("PG", pg);
    QByteArray f8;
    PutF(f8, 1e-7f);
    PutF(f8, 1e-7f);
    e += Frame("DO", f8);
    e += Frame("OO", f8.left(4));
    QByteArray tt;
    Put<quint32>(tt, quint32(second));
    e += Frame("TT", tt);
    QByteArray dp;
    for (float v : {0.9f, 1.4f, 0.8f}) {
        PutF(dp, v);
    }
    dp += char(1);
    PutF(dp, 0.6f);
    e += Frame("DP", dp);
    e += Frame("GA", char(1 + second % 32) + QByteArray(45, '\x11'));
    e += Frame("NA", char(1 + second % 24) + QByteArray(45, '\x11'));
    e += "MS020,RTCMST,999,0000,0000,100.00,@1F\r\n";
    QByteArray sg;
    for (float v : {1.2f, 2.1f, 0.05f, 0.07f}) {
        PutF(sg, v);
    }
    sg += char(1);
    e += Frame("SG", sg);
    e += Frame("SE", QByteArray("\x01\x02\x03\x04\x05", 5));
    e += Frame("||", QByteArray());
    return e;
}

}  // namespace benchdata
