#include "link/Profile.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSettings>
#include <QStandardPaths>

Q_DECLARE_LOGGING_CATEGORY(lcLink)

namespace {

std::mutex g_profileMutex;
CProfile* g_profile = nullptr;
int g_profileUsers = 0;
QString g_profilePath;

QString DefaultPath()
{
    const QString env = qEnvironmentVariable("NEMOLA_SETTINGS");
    if (!env.isEmpty()) {
        return env;
    }
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (dir.isEmpty()) {
        dir = QDir::homePath();
    }
    return dir + QStringLiteral("/Nemola/Nemola-M.ini");
}

QString Key(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

}  // namespace

CProfile::CProfile(const QString& path)
{
    OpenFile(path);
}

void CProfile::OpenFile(const QString& path)
{
    m_memory.clear();
    m_problem.clear();
    // Only a regular file (or none yet) is opened: reading a FIFO would wait for a writer for ever.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        m_settings.reset();
        m_problem = QStringLiteral("The settings file ") + QDir::toNativeSeparators(path) +
                    QStringLiteral(" is not a regular file: the defaults apply and no settings are kept.");
        qCWarning(lcLink) << m_problem;
        return;
    }
    m_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

QString CProfile::Problem() const
{
    std::lock_guard lock(m_mutex);
    return m_problem;
}

CProfile::~CProfile() = default;

CProfile* CProfile::Instance()
{
    std::lock_guard lock(g_profileMutex);
    if (!g_profile) {
        g_profile = new CProfile(g_profilePath.isEmpty() ? DefaultPath() : g_profilePath);
    }
    ++g_profileUsers;
    return g_profile;
}

void CProfile::Release()
{
    std::lock_guard lock(g_profileMutex);
    if (g_profileUsers > 0 && --g_profileUsers == 0) {
        delete g_profile;
        g_profile = nullptr;
    }
}

void CProfile::SetFileName(const QString& path)
{
    std::lock_guard lock(g_profileMutex);
    g_profilePath = path;
    if (g_profile) {
        // Switch the live store too, so that tests can give each case a fresh file.
        std::lock_guard storeLock(g_profile->m_mutex);
        if (g_profile->m_settings) {
            g_profile->m_settings->sync();
        }
        g_profile->OpenFile(path.isEmpty() ? DefaultPath() : path);
    }
}

QString CProfile::FileName()
{
    std::lock_guard lock(g_profileMutex);
    return g_profilePath.isEmpty() ? DefaultPath() : g_profilePath;
}

QString CProfile::Read(const QString& section, const QString& key, const QString& def, bool* found) const
{
    std::lock_guard lock(m_mutex);
    if (!m_settings) {
        const auto it = m_memory.constFind(Key(section, key));
        *found = it != m_memory.constEnd();
        return *found ? *it : def;
    }
    const QVariant v = m_settings->value(Key(section, key));
    *found = v.isValid();
    return v.isValid() ? v.toString() : def;
}

QString CProfile::ReadString(const QString& section, const QString& key, const QString& def) const
{
    bool found = false;
    return Read(section, key, def, &found);
}

int CProfile::ReadInt(const QString& section, const QString& key, int def) const
{
    bool found = false;
    const QString text = Read(section, key, QString(), &found);
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return found && ok ? v : def;
}

double CProfile::ReadDouble(const QString& section, const QString& key, double def) const
{
    bool found = false;
    const QString text = Read(section, key, QString(), &found);
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return found && ok ? v : def;
}

bool CProfile::ReadBool(const QString& section, const QString& key, bool def) const
{
    bool found = false;
    const QString text = Read(section, key, QString(), &found).trimmed().toLower();
    if (!found) {
        return def;
    }
    if (text == QLatin1String("true") || text == QLatin1String("1")) {
        return true;
    }
    if (text == QLatin1String("false") || text == QLatin1String("0")) {
        return false;
    }
    return def;
}

void CProfile::WriteString(const QString& section, const QString& key, const QString& value)
{
    std::lock_guard lock(m_mutex);
    if (!m_settings) {
        m_memory.insert(Key(section, key), value);
        return;
    }
    m_settings->setValue(Key(section, key), value);
}

void CProfile::WriteInt(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

void CProfile::WriteDouble(const QString& section, const QString& key, double value)
{
    // 17 significant digits keep a double exactly across a write and a read.
    WriteString(section, key, QString::number(value, 'g', 17));
}

void CProfile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void CProfile::Sync()
{
    std::lock_guard lock(m_mutex);
    if (m_settings) {
        m_settings->sync();
    }
}
