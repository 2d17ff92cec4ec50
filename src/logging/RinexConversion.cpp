#include "logging/RinexConversion.h"

#include "link/Profile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <condition_variable>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>

namespace {

const char* const kGroup = "KVS2RIN";
const char* const kMakerConverter = "KVS2RIN.EXE";

QString Quoted(const QString& s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

bool EndsWithSeparator(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\'));
}

using S = RinexConverterSettings;
const std::pair<const char*, QString S::*> kTextKeys[] = {
    {"RUN BY", &S::runBy},           {"OBSERVER", &S::observer},          {"AGENCY", &S::agency},
    {"ANT #", &S::antNumber},        {"ANT TYPE", &S::antType},           {"COMMENT", &S::comment},
    {"MARKER NAME", &S::markerName}, {"MARKER NUMBER", &S::markerNumber}, {"Options", &S::options}};
const std::pair<const char*, bool S::*> kFlagKeys[] = {{"NoGPS", &S::noGps},
                                                       {"NoGLO", &S::noGlonass},
                                                       {"NoL1", &S::noL1},
                                                       {"NoL2", &S::noL2},
                                                       {"DeleteKVS", &S::deleteKvs}};

// The header files in use: conversions that run at once share a folder's "profile.ini" while its text is theirs;
// one that needs another text (the settings changed meanwhile) waits until no converter reads the file, so that
// no converter ever reads a header meant for another recording.
class CProfileLease
{
public:
    CProfileLease(const QString& path, const QByteArray& text) : m_key(QFileInfo(path).absoluteFilePath())
    {
        std::unique_lock lock(s_mutex);
        s_changed.wait(lock, [&] {
            const auto it = s_files.find(m_key);
            return it == s_files.end() || it->second.readers == 0 || it->second.text == text;
        });
        File& f = s_files[m_key];
        if (f.readers == 0) {
            // Written whole and renamed into place, also when nobody reads it: it may have been changed by hand.
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0 || !file.commit()) {
                m_error = file.errorString();
                s_files.erase(m_key);
                return;
            }
            f.text = text;
        }
        ++f.readers;
        m_held = true;
    }
    ~CProfileLease()
    {
        if (!m_held) {
            return;
        }
        {
            std::lock_guard lock(s_mutex);
            const auto it = s_files.find(m_key);
            if (it != s_files.end() && --it->second.readers == 0) {
                s_files.erase(it);
            }
        }
        s_changed.notify_all();
    }
    CProfileLease(const CProfileLease&) = delete;
    CProfileLease& operator=(const CProfileLease&) = delete;

    QString Error() const { return m_error; }

private:
    struct File
    {
        QByteArray text;
        int readers = 0;
    };
    static inline std::mutex s_mutex;
    static inline std::condition_variable s_changed;
    static inline std::map<QString, File> s_files;

    QString m_key;
    QString m_error;
    bool m_held = false;
};

}  // namespace

RinexConverterSettings RinexConverterSettings::Load(const CProfile& profile)
{
    const QString section = QLatin1String(kGroup);
    RinexConverterSettings s;
    s.application = profile.ReadString(section, QStringLiteral("Application"), DefaultConverterApplication());
    if (s.application == QLatin1String(kMakerConverter) && QStandardPaths::findExecutable(s.application).isEmpty()) {
        // A profile from the maker's tool set names a program that does not exist here: ours does the same.
        s.application = DefaultConverterApplication();
    }
    for (const auto& [key, member] : kTextKeys) {
        s.*member = profile.ReadString(section, QLatin1String(key), QString());
    }
    for (const auto& [key, member] : kFlagKeys) {
        s.*member = profile.ReadBool(section, QLatin1String(key), false);
    }
    return s;
}

void RinexConverterSettings::Store(CProfile& profile) const
{
    const QString section = QLatin1String(kGroup);
    profile.WriteString(section, QStringLiteral("Application"), application);
    for (const auto& [key, member] : kTextKeys) {
        profile.WriteString(section, QLatin1String(key), this->*member);
    }
    for (const auto& [key, member] : kFlagKeys) {
        profile.WriteBool(section, QLatin1String(key), this->*member);
    }
}

QString DefaultConverterApplication()
{
    return DefaultConverterApplication(QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                                    : QString());
}

QString DefaultConverterApplication(const QString& programDir)
{
#ifdef Q_OS_WIN
    const QString ours = QStringLiteral("kvs2rin.exe");
#else
    const QString ours = QStringLiteral("kvs2rin");
#endif
    if (!programDir.isEmpty()) {
        const QFileInfo beside(QDir(programDir).filePath(ours));
        if (beside.isFile() && beside.isExecutable()) {
            return beside.absoluteFilePath();
        }
    }
    return QLatin1String(kMakerConverter);
}

QByteArray RinexProfileText(const RinexConverterSettings& s, const RinexReceiverText& receiver)
{
    const QString text = QStringLiteral("[KVS2RIN]\n") + QStringLiteral("RUN BY= ") + s.runBy + QLatin1Char('\n') +
                         QStringLiteral("OBSERVER= ") + s.observer + QLatin1Char('\n') + QStringLiteral("AGENCY= ") +
                         s.agency + QLatin1Char('\n') + QStringLiteral("ANT #= ") + s.antNumber + QLatin1Char('\n') +
                         QStringLiteral("ANT TYPE= ") + s.antType + QLatin1Char('\n') + QStringLiteral("COMMENT= ") +
                         s.comment + QLatin1Char('\n') + QStringLiteral("MARKER NAME= ") + s.markerName +
                         QLatin1Char('\n') + QStringLiteral("MARKER NUMBER= ") + s.markerNumber + QLatin1Char('\n') +
                         QStringLiteral("REC #= ") + receiver.number + QLatin1Char('\n') +
                         QStringLiteral("REC TYPE= ") + receiver.type + QLatin1Char('\n') +
                         QStringLiteral("ANT DELTA H= 0\nANT DELTA E= 0\nANT DELTA N= 0\n");
    return text.toUtf8();
}

RinexCommand BuildRinexCommand(const RinexConverterSettings& s, const QString& kvsPath, const QString& folder)
{
    RinexCommand c;
    c.program = s.application.isEmpty() ? DefaultConverterApplication() : s.application;
    c.arguments = {QStringLiteral("-i"), kvsPath, QStringLiteral("-o"), folder};
    c.commandLine = c.program + QStringLiteral(" -i ") + Quoted(kvsPath) + QStringLiteral(" -o ") + Quoted(folder);
    const std::pair<bool, const char*> flags[] = {
        {s.noGps, "-G"}, {s.noGlonass, "-R"}, {s.noL1, "-L1"}, {s.noL2, "-L2"}};
    for (const auto& [on, flag] : flags) {
        if (on) {
            c.arguments << QLatin1String(flag);
            c.commandLine += QLatin1Char(' ') + QLatin1String(flag);
        }
    }
    if (!s.options.contains(QLatin1String("-p"))) {
        c.profilePath = folder + (EndsWithSeparator(folder) || folder.isEmpty() ? QString() : QStringLiteral("/")) +
                        QStringLiteral("profile.ini");
        c.arguments << QStringLiteral("-p") << c.profilePath;
        c.commandLine += QStringLiteral(" -p ") + Quoted(c.profilePath);
    }
    c.commandLine += QLatin1Char(' ') + s.options;
    c.arguments += QProcess::splitCommand(s.options);
    return c;
}

QString ConverterExitMessage(int code)
{
    static const char* const kWords[] = {"Error opening/reading file",
                                         "Not a KVS file format",
                                         "Inconsistent or corrupt data in KVS file",
                                         "Conversion aborted by user",
                                         "Internal error",
                                         "File already loaded",
                                         "Loading in progress",
                                         "DLL does not contain LoadFile function",
                                         "File queued",
                                         "Bad time",
                                         "File name length exceeds allowed value",
                                         "Error opening output file",
                                         "No observations in the KVS file"};
    if (code == 0) {
        return QString();
    }
    if (code == 255) {
        code = -1;
    }
    QString text = QString::asprintf("KVS to RINEX : Terminated with error code %d ", code);
    if (code >= 1 && code <= int(std::size(kWords))) {
        text += QLatin1Char('(') + QLatin1String(kWords[code - 1]) + QLatin1Char(')');
    } else if (code == -1) {
        text += QStringLiteral("(Invalid command line?)");
    }
    return text;
}

QString RunRinexConversion(const RinexConversionJob& job, const std::atomic<bool>* abandon)
{
    const RinexCommand c = BuildRinexCommand(job.settings, job.kvsPath, job.folder);
    std::optional<CProfileLease> profile;
    if (!c.profilePath.isEmpty()) {
        profile.emplace(c.profilePath, RinexProfileText(job.settings, job.receiver));
        if (!profile->Error().isEmpty()) {
            return profile->Error();
        }
    }
    QProcess p;
    p.setProgram(c.program);
    p.setArguments(c.arguments);
    p.setWorkingDirectory(job.folder);
    p.start();
    if (!p.waitForStarted(-1)) {
        return p.errorString();
    }
    while (!p.waitForFinished(100)) {
        if (abandon && *abandon) {
            p.kill();
            p.waitForFinished(-1);
            return QStringLiteral("KVS to RINEX : stopped when the program ended");
        }
    }
    profile.reset();
    if (p.exitStatus() != QProcess::NormalExit) {
        return p.errorString();  // a crashed converter has no exit code to trust
    }
    const QString result = ConverterExitMessage(p.exitCode());
    if (result.isEmpty() && job.settings.deleteKvs) {
        QFile::remove(job.kvsPath);
    }
    return result;
}

CRinexConversion::CRinexConversion(QObject* parent, int exitGraceMs) : QObject(parent), m_exitGraceMs(exitGraceMs) {}

CRinexConversion::~CRinexConversion()
{
    const QDeadlineTimer grace(m_exitGraceMs);
    for (QThread* t : std::as_const(m_threads)) {
        if (!t->wait(grace)) {
            *m_abandon = true;
            t->wait();
        }
        delete t;
    }
}

void CRinexConversion::Start(const RinexConversionJob& job)
{
    ++m_running;
    QThread* thread = QThread::create([this, job, abandon = m_abandon] {
        const QString result = RunRinexConversion(job, abandon.get());
        QMetaObject::invokeMethod(
            this,
            [this, path = job.kvsPath, result] {
                --m_running;
                emit Finished(path, result);
            },
            Qt::QueuedConnection);
    });
    m_threads << thread;
    connect(thread, &QThread::finished, this, [this, thread] {
        m_threads.removeOne(thread);
        thread->deleteLater();
    });
    thread->start();
}
