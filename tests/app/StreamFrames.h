#pragma once

#include "link/Checksum.h"

#include <QByteArray>
#include <QtEndian>

#include <cstring>
#include <initializer_list>
#include <type_traits>
#include <vector>

// Raw stream messages as the receiver sends them (identifier, three hex length digits, body, checksum byte).
namespace frames {

inline QByteArray Frame(const char* id, const QByteArray& payload)
{
    QByteArray f =
        QByteArray(id, 2) + QByteArray::number(payload.size() + 1, 16).toUpper().rightJustified(3, '0') + payload;
    f += char(Checksum8(f.constData(), size_t(f.size())));
    return f;
}

template <typename T>
void Put(QByteArray& b, T v)
{
    v = qToLittleEndian(v);
    b.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// IEEE floats or doubles, little-endian.
template <typename F>
QByteArray Floats(std::initializer_list<F> values)
{
    QByteArray b;
    for (F v : values) {
        std::conditional_t<sizeof(F) == 4, quint32, quint64> bits;
        std::memcpy(&bits, &v, sizeof v);
        Put(b, bits);
    }
    return b;
}

inline QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values) {
        b += char(v);
    }
    return b;
}

template <typename T>
QByteArray Values(std::initializer_list<T> values)
{
    QByteArray b;
    for (T v : values) {
        Put(b, v);
    }
    return b;
}

inline QByteArray MsText(const QByteArray& text)
{
    QByteArray f = "MS" + QByteArray::number(text.size() + 3, 16).toUpper().rightJustified(3, '0') + text + "@";
    return f + QByteArray::number(Checksum8(f.constData(), size_t(f.size())), 16).toUpper().rightJustified(2, '0');
}

// A "PG": position in degrees and metres, and the solution type.
inline QByteArray Pg(double latDeg, double lonDeg, double alt, int solution)
{
    constexpr double kDegToRad = 0.017453292519943295;
    return Frame("PG", Floats<double>({latDeg * kDegToRad, lonDeg * kDegToRad, alt}) + Floats<float>({0.5f}) +
                           Bytes({solution}));
}

// One epoch with twelve message types and five satellites: GPS 5 (no almanac) and 12, GLONASS 38 (slot 3),
// Galileo 75, SBAS 125. Receiver time 12:00:00 on 1.6.2024.
inline std::vector<QByteArray> FullEpoch()
{
    return {
        Frame("~~", Values<quint32>({43200000u})),
        Frame("RD", Values<quint16>({2024}) + Bytes({6, 1, 0})),
        Frame("SI", Bytes({5, 12, 38, 75, 125})),
        Frame("NN", Bytes({3})),
        Frame("EL", Bytes({45, 127, 10, 251, 30})),
        Frame("AZ", Bytes({90, 255, 10, 0, 100})),
        Frame("EC", Bytes({45, 255, 40, 38, 35})),
        Frame("TC", Values<quint16>({3600, 30, 65535, 59, 60})),
        Frame("SS", Bytes({0, 5, 51, 60, 3, 1})),
        Frame("DC", Values<qint32>({2147483647, 0, -50000, 50000, 5000})),
        Frame("DP", Floats<float>({3, 4, 1}) + Bytes({1})),
        Frame("||", QByteArray()),
    };
}

}  // namespace frames
