#pragma once

#include <QMap>
#include <QString>

#include <memory>
#include <mutex>

class QSettings;

// The program's settings store: an INI file in the user's configuration folder, by section and key.
// The file can be chosen before first use (command line, NEMOLA_SETTINGS, tests).
class CProfile
{
public:
    // Instance() and Release() come in pairs; the store is written back when the last user releases it.
    static CProfile* Instance();
    static void Release();
    // Chooses the settings file; takes effect for the next instance created.
    static void SetFileName(const QString& path);
    static QString FileName();

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    int ReadInt(const QString& section, const QString& key, int def) const;
    double ReadDouble(const QString& section, const QString& key, double def) const;
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInt(const QString& section, const QString& key, int value);
    void WriteDouble(const QString& section, const QString& key, double value);
    void WriteBool(const QString& section, const QString& key, bool value);

    void Sync();

    // Empty when the settings file is in use; otherwise why it is not (it exists but is not a regular file: a
    // FIFO, a device or a folder would block or fail). The store then starts with the defaults and keeps what is
    // written only for this run.
    QString Problem() const;

    ~CProfile();

private:
    explicit CProfile(const QString& path);
    void OpenFile(const QString& path);
    QString Read(const QString& section, const QString& key, const QString& def, bool* found) const;

    mutable std::mutex m_mutex;
    std::unique_ptr<QSettings> m_settings;  // null when the file is not usable
    QMap<QString, QString> m_memory;        // the store without a usable file
    QString m_problem;
};
