#include "sim/ParamStore.h"

#include "sim/ParamForms.h"

#include <cmath>

namespace {

bool SplitRange(const char* allowed, QString* lo, QString* hi)
{
    const QString a = QString::fromLatin1(allowed);
    const int dots = a.indexOf(QLatin1String(".."));
    if (dots < 0) {
        return false;
    }
    *lo = a.left(dots);
    *hi = a.mid(dots + 2);
    return true;
}

int DecimalsOf(const char* text)
{
    const QString t = QString::fromLatin1(text);
    const int dot = t.indexOf(QLatin1Char('.'));
    return dot < 0 ? 0 : int(t.size() - dot - 1);
}

// Braces balanced and the whole text one braced list.
bool IsBracedList(const QString& v)
{
    if (!v.startsWith(QLatin1Char('{')) || !v.endsWith(QLatin1Char('}'))) {
        return false;
    }
    int depth = 0;
    bool quoted = false;
    for (int i = 0; i < v.size(); ++i) {
        const QChar c = v[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('{')) {
            ++depth;
        } else if (!quoted && c == QLatin1Char('}')) {
            if (--depth < 0) {
                return false;
            }
            if (depth == 0 && i != v.size() - 1) {
                return false;
            }
        }
    }
    return depth == 0 && !quoted;
}

// Values that would break the braced form of a directory print are refused.
bool IsPlainText(const QString& v)
{
    for (const QChar c : v) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || c == QLatin1Char(',') || c == QLatin1Char('{') ||
            c == QLatin1Char('}') || c == QLatin1Char('"') || c == QLatin1Char(';') || c == QLatin1Char('&')) {
            return false;
        }
    }
    return true;
}

bool IsQuotable(const QString& v)
{
    for (const QChar c : v) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || c == QLatin1Char('"')) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::unique_ptr<CParamStore> CParamStore::Create(const QString& profile, QString* error)
{
    const ProfileDef* found = nullptr;
    QStringList names;
    for (const ProfileDef& p : ProfileDefs()) {
        names << QString::fromLatin1(p.name);
        if (profile == QLatin1String(p.name)) {
            found = &p;
        }
    }
    if (!found) {
        if (error) {
            *error = QStringLiteral("Unknown receiver profile \"%1\" (known: %2)").arg(profile, names.join(", "));
        }
        return nullptr;
    }
    auto store = std::unique_ptr<CParamStore>(new CParamStore);
    store->m_profile = profile;
    for (const QString& f : QString::fromLatin1(found->features).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        store->m_features.insert(f.trimmed());
    }
    for (const ParamDef& def : ParamDefs()) {
        if (!store->HasFeatures(def.needs)) {
            continue;
        }
        const QString path = QString::fromLatin1(def.path);
        if (store->m_index.count(path)) {
            continue;  // the first definition wins; a duplicate is a table mistake, not a crash
        }
        Entry e;
        e.def = &def;
        e.defaultValue = QString::fromLatin1(def.def);
        store->m_index[path] = store->m_entries.size();
        store->m_entries.push_back(e);
        if (path.contains(QLatin1Char('&'))) {
            continue;  // attributes belong to their parameter, not to a directory
        }
        // Register the path in every directory above it, keeping the table's order.
        int from = 1;
        for (;;) {
            const int slash = path.indexOf(QLatin1Char('/'), from);
            const QString parent = path.left(from);
            const QString child = slash < 0 ? path.mid(from) : path.mid(from, slash - from);
            QStringList& list = store->m_children[parent];
            if (!list.contains(child)) {
                list << child;
            }
            if (slash < 0) {
                break;
            }
            from = slash + 1;
        }
    }
    // Hook: a second path for an entry (sim/ParamForms.h).
    for (const ParamAlias& a : ParamAliases()) {
        const auto target = store->m_index.find(QString::fromLatin1(a.target));
        if (target != store->m_index.end()) {
            store->m_index.emplace(QString::fromLatin1(a.alias), target->second);
        }
    }
    for (const ProfileValue& pv : ProfileValues()) {
        if (profile == QLatin1String(pv.profile)) {
            if (Entry* e = store->Find(QString::fromLatin1(pv.path))) {
                e->defaultValue = QString::fromLatin1(pv.value);
            }
        }
    }
    for (Entry& e : store->m_entries) {
        e.value = e.defaultValue;
    }
    return store;
}

bool CParamStore::HasFeatures(const char* needs) const
{
    for (const QString& f : QString::fromLatin1(needs).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = f.trimmed();
        // "!feature": the path exists only without the feature.
        const bool has =
            name.startsWith(QLatin1Char('!')) ? !m_features.contains(name.mid(1)) : m_features.contains(name);
        if (!has) {
            return false;
        }
    }
    return true;
}

const CParamStore::Entry* CParamStore::Find(const QString& path) const
{
    auto it = m_index.find(path);
    return it == m_index.end() ? nullptr : &m_entries[it->second];
}

CParamStore::Entry* CParamStore::Find(const QString& path)
{
    auto it = m_index.find(path);
    return it == m_index.end() ? nullptr : &m_entries[it->second];
}

bool CParamStore::IsDirectory(const QString& dir) const
{
    return dir.endsWith(QLatin1Char('/')) && m_children.count(dir) > 0;
}

QStringList CParamStore::Children(const QString& dir) const
{
    auto it = m_children.find(dir);
    return it == m_children.end() ? QStringList() : it->second;
}

CParamStore::SetResult CParamStore::Check(const QString& path, const QString& value, QString* canonical) const
{
    const Entry* e = Find(path);
    if (!e) {
        return SetResult::Unknown;
    }
    if (e->def->flags & (ParamFlag::ReadOnly | ParamFlag::Live)) {
        return SetResult::ReadOnly;
    }
    QString unused;
    return Validate(*e->def, value, canonical ? canonical : &unused);
}

CParamStore::SetResult CParamStore::Set(const QString& path, const QString& value)
{
    QString canonical;
    const SetResult r = Check(path, value, &canonical);
    Entry* e = Find(path);
    if (r == SetResult::Ok && !(e->def->flags & ParamFlag::Momentary)) {
        e->value = canonical;
    }
    return r;
}

bool CParamStore::Force(const QString& path, const QString& value)
{
    Entry* e = Find(path);
    if (!e) {
        return false;
    }
    e->value = value;
    return true;
}

bool CParamStore::SetDefault(const QString& path, const QString& value)
{
    Entry* e = Find(path);
    if (!e) {
        return false;
    }
    e->defaultValue = value;
    e->value = value;
    return true;
}

bool CParamStore::Reset(const QString& dir)
{
    if (!IsDirectory(dir)) {
        return false;
    }
    for (Entry& e : m_entries) {
        if (!(e.def->flags & (ParamFlag::ReadOnly | ParamFlag::Live)) &&
            QString::fromLatin1(e.def->path).startsWith(dir)) {
            e.value = e.defaultValue;
        }
    }
    return true;
}

QString CParamStore::Printed(const Entry& entry)
{
    if (entry.def->type == ParamType::Quoted) {
        return QLatin1Char('"') + entry.value + QLatin1Char('"');
    }
    return entry.value;
}

CParamStore::SetResult CParamStore::Validate(const ParamDef& def, const QString& rawValue, QString* canonical)
{
    const QString value = rawValue.trimmed();
    switch (def.type) {
        case ParamType::Int: {
            bool ok = false;
            const qlonglong v = value.toLongLong(&ok);
            if (!ok) {
                return SetResult::Invalid;
            }
            QString lo, hi;
            if (SplitRange(def.allowed, &lo, &hi) && (v < lo.toLongLong() || v > hi.toLongLong())) {
                return SetResult::OutOfRange;
            }
            *canonical = QString::number(v);
            return SetResult::Ok;
        }
        case ParamType::Real: {
            bool ok = false;
            const double v = value.toDouble(&ok);
            if (!ok || !std::isfinite(v)) {
                return SetResult::Invalid;
            }
            QString lo, hi;
            if (SplitRange(def.allowed, &lo, &hi) && (v < lo.toDouble() || v > hi.toDouble())) {
                return SetResult::OutOfRange;
            }
            *canonical = QString::number(v, 'f', DecimalsOf(def.def));
            return SetResult::Ok;
        }
        case ParamType::Enum: {
            for (const QString& choice : QString::fromLatin1(def.allowed).split(QLatin1Char('|'))) {
                if (choice.compare(value, Qt::CaseInsensitive) == 0) {
                    *canonical = choice;
                    return SetResult::Ok;
                }
            }
            return SetResult::Invalid;
        }
        case ParamType::Text:
        case ParamType::Quoted: {
            QString v = value;
            if (v.size() >= 2 && v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) {
                v = v.mid(1, v.size() - 2);
            } else if (def.type == ParamType::Quoted && v.contains(QLatin1Char('"'))) {
                return SetResult::Invalid;
            }
            if (def.type == ParamType::Text ? !IsPlainText(v) : !IsQuotable(v)) {
                return SetResult::Invalid;
            }
            const int maxLength = QString::fromLatin1(def.allowed).toInt();
            if (maxLength > 0 && v.size() > maxLength) {
                return SetResult::OutOfRange;
            }
            *canonical = v;
            return SetResult::Ok;
        }
        case ParamType::List: {
            const QString allowed = QString::fromLatin1(def.allowed);
            const int star = allowed.indexOf(QLatin1Char('*'));
            const QStringList choices = allowed.left(star < 0 ? allowed.size() : star).split(QLatin1Char('|'));
            const int count = star < 0 ? -1 : allowed.mid(star + 1).toInt();
            if (!value.startsWith(QLatin1Char('{')) || !value.endsWith(QLatin1Char('}'))) {
                return SetResult::Invalid;
            }
            QStringList items = value.mid(1, value.size() - 2).split(QLatin1Char(','));
            if (count >= 0 && items.size() != count) {
                return SetResult::OutOfRange;
            }
            for (QString& item : items) {
                item = item.trimmed();
                bool known = false;
                for (const QString& c : choices) {
                    if (c.compare(item, Qt::CaseInsensitive) == 0) {
                        item = c;
                        known = true;
                    }
                }
                if (!known) {
                    return SetResult::Invalid;
                }
            }
            *canonical = QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
            return SetResult::Ok;
        }
        case ParamType::Braced:
            if (IsPlainForm(def.allowed)) {
                return CheckBracedForm(def.allowed, value, canonical);
            }
            if (!IsBracedList(value)) {
                return SetResult::Invalid;
            }
            if (*def.allowed) {
                return CheckBracedForm(def.allowed, value, canonical);  // hook: sim/ParamForms.h
            }
            *canonical = value;
            return SetResult::Ok;
    }
    return SetResult::Invalid;
}
