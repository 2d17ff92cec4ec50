#include "sim/ParamForms.h"

#include <QRegularExpression>

#include <cmath>
#include <cstring>

namespace {

using Result = CParamStore::SetResult;

// The items of one braced level, split at the commas outside inner braces; false when `text` is not one
// braced list.
bool SplitBraced(const QString& text, QStringList* items)
{
    const QString v = text.trimmed();
    if (v.size() < 2 || !v.startsWith(QLatin1Char('{')) || !v.endsWith(QLatin1Char('}'))) {
        return false;
    }
    items->clear();
    QString current;
    int depth = 0;
    for (int i = 1; i < v.size() - 1; ++i) {
        const QChar c = v[i];
        if (c == QLatin1Char('{')) {
            ++depth;
        } else if (c == QLatin1Char('}')) {
            if (--depth < 0) {
                return false;
            }
        } else if (c == QLatin1Char(',') && depth == 0) {
            *items << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    *items << current.trimmed();
    return depth == 0;
}

bool IsName(const QString& s)
{
    if (s.isEmpty() || s.size() > 15) {
        return false;
    }
    for (const QChar c : s) {
        if (c.unicode() <= 0x20 || c.unicode() > 0x7E || c == QLatin1Char('"')) {
            return false;
        }
    }
    return true;
}

// A number within [lo, hi].
Result Number(const QString& s, double lo, double hi)
{
    bool ok = false;
    const double v = s.toDouble(&ok);
    if (!ok || !std::isfinite(v)) {
        return Result::Invalid;
    }
    return v < lo || v > hi ? Result::OutOfRange : Result::Ok;
}

Result First(std::initializer_list<Result> results)
{
    for (Result r : results) {
        if (r != Result::Ok) {
            return r;
        }
    }
    return Result::Ok;
}

Result DatumPar(const QString& text, QString* canonical)
{
    QStringList items;
    if (!SplitBraced(text, &items) || items.size() != 9 || !IsName(items[0])) {
        return Result::Invalid;
    }
    if (items[1] != QLatin1String("0") && items[1] != QLatin1String("1")) {
        return Result::Invalid;
    }
    const Result r = First({Number(items[2], -10000, 10000), Number(items[3], -10000, 10000),
                            Number(items[4], -10000, 10000), Number(items[5], -100, 100), Number(items[6], -100, 100),
                            Number(items[7], -100, 100), Number(items[8], -1000, 1000)});
    if (r == Result::Ok) {
        *canonical = QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    return r;
}

Result DatumUser(const QString& text, QString* canonical)
{
    QStringList groups;
    if (!SplitBraced(text, &groups) || groups.size() != 2) {
        return Result::Invalid;
    }
    QStringList ellipsoid;
    if (!SplitBraced(groups[0], &ellipsoid) || ellipsoid.size() != 3 || !IsName(ellipsoid[0])) {
        return Result::Invalid;
    }
    QString par;
    const Result r =
        First({Number(ellipsoid[1], 6000000, 7000000), Number(ellipsoid[2], 1, 1000), DatumPar(groups[1], &par)});
    if (r == Result::Ok) {
        *canonical =
            QStringLiteral("{{") + ellipsoid.join(QLatin1Char(',')) + QStringLiteral("},") + par + QLatin1Char('}');
    }
    return r;
}

// One angle of a reference position: hemisphere letter, degrees "d", minutes "m", seconds "s". `canonical` gets
// the receiver's own form: degrees with `degreeDigits` digits, two-digit minutes, seconds with five decimals.
Result Angle(const QString& text, const char* hemispheres, int maxDegrees, int degreeDigits, QString* canonical)
{
    static const QRegularExpression kAngle(
        QStringLiteral("^([A-Z])([0-9]{1,3})d([0-9]{1,2})m([0-9]{1,2}(?:\\.[0-9]{0,9})?)s$"));
    const QRegularExpressionMatch m = kAngle.match(text);
    if (!m.hasMatch() || !std::strchr(hemispheres, m.captured(1)[0].toLatin1())) {
        return Result::Invalid;
    }
    const int degrees = m.captured(2).toInt();
    const int minutes = m.captured(3).toInt();
    const double seconds = m.captured(4).toDouble();
    if (minutes > 59 || seconds >= 60.0 || degrees * 3600.0 + minutes * 60.0 + seconds > maxDegrees * 3600.0) {
        return Result::OutOfRange;
    }
    *canonical = m.captured(1) + QStringLiteral("%1d%2m%3s")
                                     .arg(degrees, degreeDigits, 10, QLatin1Char('0'))
                                     .arg(minutes, 2, 10, QLatin1Char('0'))
                                     .arg(seconds, 8, 'f', 5, QLatin1Char('0'));
    return Result::Ok;
}

// {datum,<latitude>,<longitude>,height}
Result RefPos(const QString& text, QString* canonical)
{
    QStringList items;
    if (!SplitBraced(text, &items) || items.size() != 4 || !IsName(items[0])) {
        return Result::Invalid;
    }
    QString lat, lon;
    const Result r = First(
        {Angle(items[1], "NS", 90, 2, &lat), Angle(items[2], "EW", 180, 3, &lon), Number(items[3], -1000, 20000)});
    if (r == Result::Ok) {
        const QString height = QString::asprintf("%+.4f", items[3].toDouble());
        *canonical =
            QLatin1Char('{') + QStringList{items[0], lat, lon, height}.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    return r;
}

// {east,north,up} in metres
Result Offsets(const QString& text, QString* canonical)
{
    QStringList items;
    if (!SplitBraced(text, &items) || items.size() != 3) {
        return Result::Invalid;
    }
    const Result r = First({Number(items[0], -1, 1), Number(items[1], -1, 1), Number(items[2], -1, 1)});
    if (r == Result::Ok) {
        for (QString& item : items) {
            item = QString::number(item.toDouble(), 'f', 4);
        }
        *canonical = QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    return r;
}

// {"short id","cogo","long id"}: three texts in double quotes with no quote or comma inside.
Result CmrDesc(const QString& text, QString* canonical)
{
    QStringList items;
    if (!SplitBraced(text, &items) || items.size() != 3) {
        return Result::Invalid;
    }
    const int maxLength[3] = {8, 16, 32};
    for (int i = 0; i < 3; ++i) {
        const QString& item = items[i];
        if (item.size() < 2 || !item.startsWith(QLatin1Char('"')) || !item.endsWith(QLatin1Char('"')) ||
            item.mid(1, item.size() - 2).contains(QLatin1Char('"'))) {
            return Result::Invalid;
        }
        if (item.size() - 2 > maxLength[i]) {
            return Result::OutOfRange;
        }
    }
    *canonical = QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
    return Result::Ok;
}

}  // namespace

bool IsPlainForm(const char* form)
{
    return std::strcmp(form, "ipv4") == 0 || std::strcmp(form, "mac") == 0;
}

CParamStore::SetResult CheckBracedForm(const char* form, const QString& value, QString* canonical)
{
    if (IsPlainForm(form)) {
        QString v = value.trimmed();
        if (v.size() >= 2 && v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) {
            v = v.mid(1, v.size() - 2);
        }
        const bool mac = std::strcmp(form, "mac") == 0;
        static const QRegularExpression kIp(
            QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
        static const QRegularExpression kMac(QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
        const QRegularExpressionMatch m = (mac ? kMac : kIp).match(v);
        if (!m.hasMatch()) {
            return Result::Invalid;
        }
        for (int i = 1; !mac && i <= 4; ++i) {
            if (m.captured(i).toInt() > 255) {
                return Result::OutOfRange;
            }
        }
        *canonical = mac ? QLatin1Char('"') + v.toUpper() + QLatin1Char('"') : v;
        return Result::Ok;
    }
    if (std::strcmp(form, "datum-par") == 0) {
        return DatumPar(value, canonical);
    }
    if (std::strcmp(form, "datum-user") == 0) {
        return DatumUser(value, canonical);
    }
    if (std::strcmp(form, "ref-pos") == 0) {
        return RefPos(value, canonical);
    }
    if (std::strcmp(form, "offsets") == 0) {
        return Offsets(value, canonical);
    }
    if (std::strcmp(form, "cmr-desc") == 0) {
        return CmrDesc(value, canonical);
    }
    *canonical = value.trimmed();
    return Result::Ok;
}
