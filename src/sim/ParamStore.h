#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <span>
#include <vector>

// How a parameter's value is written and checked.
enum class ParamType {
    Int,     // allowed "min..max"
    Real,    // allowed "min..max"; printed with as many decimals as the default has
    Enum,    // allowed "a|b|c"
    Text,    // allowed: maximum length; printed as it is
    Quoted,  // allowed: maximum length; printed and accepted in double quotes
    List,    // allowed "a|b*count": a braced list of exactly `count` items out of the choices
    Braced,  // any balanced braced list, e.g. a position "{lat,lon,h}"
};

namespace ParamFlag {
enum : unsigned {
    ReadOnly = 1,
    Momentary = 2,  // a set is an action: the value printed stays the default
    Live = 4,       // the value comes from the receiver's state, not from the store (implies read-only)
};
}

// One parameter of the receiver. The table of them lives in ParamTable.cpp.
struct ParamDef
{
    const char* path;  // "/par/rcv/model"; attributes are written "/dev/blk/a&block_size"
    ParamType type;
    const char* def;      // default as printed (without the quotes of a Quoted value)
    const char* allowed;  // see ParamType
    unsigned flags;
    const char*
        needs;  // features the receiver must have for the path to exist, comma-separated, or ""; "!f": must lack f
};

struct ProfileDef
{
    const char* name;
    const char* features;  // comma-separated: rtk, modem, uhf, blt, wlan, cert, can, datum
};

// A value that differs from the table's default on one profile.
struct ProfileValue
{
    const char* profile;
    const char* path;
    const char* value;
};

std::span<const ParamDef> ParamDefs();
std::span<const ProfileDef> ProfileDefs();
std::span<const ProfileValue> ProfileValues();

// The parameter values of one receiver, built from the tables for its profile.
class CParamStore
{
public:
    enum class SetResult { Ok, Unknown, ReadOnly, Invalid, OutOfRange };

    struct Entry
    {
        const ParamDef* def = nullptr;
        QString value;  // as stored, without quotes
        QString defaultValue;
    };

    // Null with `error` set when the profile is unknown.
    static std::unique_ptr<CParamStore> Create(const QString& profile, QString* error);

    const QString& ProfileName() const { return m_profile; }
    bool HasFeature(const QString& feature) const { return m_features.contains(feature); }
    bool HasFeatures(const char* needs) const;

    // A leaf (parameter or attribute) by its full path; null when the profile has none.
    const Entry* Find(const QString& path) const;
    Entry* Find(const QString& path);
    // A directory: path with a trailing '/' ("/par/rcv/"); its children's names in table order.
    bool IsDirectory(const QString& dir) const;
    QStringList Children(const QString& dir) const;

    SetResult Set(const QString& path, const QString& value);
    // What Set would answer, without storing anything.
    SetResult Check(const QString& path, const QString& value, QString* canonical = nullptr) const;
    // Writes a value as it is, without checks (tests and the receiver's own state).
    bool Force(const QString& path, const QString& value);
    // The receiver's own default for a path (an identity made from the seed); the value follows.
    bool SetDefault(const QString& path, const QString& value);
    // Every settable parameter below `dir` ("/par/" for all) back to its default; false when `dir` is no
    // directory. Read-only values are the receiver's, not settings, and stay.
    bool Reset(const QString& dir);

    // The value as "print" answers it.
    static QString Printed(const Entry& entry);
    // Checks a value for a definition; `canonical` receives the form to store.
    static SetResult Validate(const ParamDef& def, const QString& value, QString* canonical);

private:
    QString m_profile;
    QSet<QString> m_features;
    std::vector<Entry> m_entries;
    std::map<QString, size_t> m_index;
    std::map<QString, QStringList> m_children;  // directory with trailing '/' -> child names
};
