#include "sim/ParamForms.h"

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

}  // namespace

CParamStore::SetResult CheckBracedForm(const char* form, const QString& value, QString* canonical)
{
    if (std::strcmp(form, "datum-par") == 0) {
        return DatumPar(value, canonical);
    }
    if (std::strcmp(form, "datum-user") == 0) {
        return DatumUser(value, canonical);
    }
    *canonical = value.trimmed();
    return Result::Ok;
}
