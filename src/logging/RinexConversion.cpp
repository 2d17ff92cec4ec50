#include "logging/RinexConversion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

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

}  // namespace

RinexConverterSettings RinexConverterSettings::Load(QSettings& q)
{
    q.beginGroup(QLatin1String(kGroup));
    RinexConverterSettings s;
    s.application = q.value(QStringLiteral("Application"), DefaultConverterApplication()).toString();
    if (s.application == QLatin1String(kMakerConverter) && QStandardPaths::findExecutable(s.application).isEmpty()) {
        // A profile from the maker's tool set names a program that does not exist here: ours does the same.
        s.application = DefaultConverterApplication();
    }
    s.runBy = q.value(QStringLiteral("RUN BY")).toString();
    s.observer = q.value(QStringLiteral("OBSERVER")).toString();
    s.agency = q.value(QStringLiteral("AGENCY")).toString();
    s.antNumber = q.value(QStringLiteral("ANT #")).toString();
    s.antType = q.value(QStringLiteral("ANT TYPE")).toString();
    s.comment = q.value(QStringLiteral("COMMENT")).toString();
    s.markerName = q.value(QStringLiteral("MARKER NAME")).toString();
    s.markerNumber = q.value(QStringLiteral("MARKER NUMBER")).toString();
    s.noGps = q.value(QStringLiteral("NoGPS"), false).toBool();
    s.noGlonass = q.value(QStringLiteral("NoGLO"), false).toBool();
    s.noL1 = q.value(QStringLiteral("NoL1"), false).toBool();
    s.noL2 = q.value(QStringLiteral("NoL2"), false).toBool();
    s.deleteKvs = q.value(QStringLiteral("DeleteKVS"), false).toBool();
    s.options = q.value(QStringLiteral("Options")).toString();
    q.endGroup();
    return s;
}

void RinexConverterSettings::Store(QSettings& q) const
{
    q.beginGroup(QLatin1String(kGroup));
    q.setValue(QStringLiteral("Application"), application);
    q.setValue(QStringLiteral("RUN BY"), runBy);
    q.setValue(QStringLiteral("OBSERVER"), observer);
    q.setValue(QStringLiteral("AGENCY"), agency);
    q.setValue(QStringLiteral("ANT #"), antNumber);
    q.setValue(QStringLiteral("ANT TYPE"), antType);
    q.setValue(QStringLiteral("COMMENT"), comment);
    q.setValue(QStringLiteral("MARKER NAME"), markerName);
    q.setValue(QStringLiteral("MARKER NUMBER"), markerNumber);
    q.setValue(QStringLiteral("NoGPS"), noGps);
    q.setValue(QStringLiteral("NoGLO"), noGlonass);
    q.setValue(QStringLiteral("NoL1"), noL1);
    q.setValue(QStringLiteral("NoL2"), noL2);
    q.setValue(QStringLiteral("DeleteKVS"), deleteKvs);
    q.setValue(QStringLiteral("Options"), options);
    q.endGroup();
}

QString DefaultConverterApplication()
{
#ifdef Q_OS_WIN
    const QString ours = QStringLiteral("kvs2rin.exe");
#else
    const QString ours = QStringLiteral("kvs2rin");
#endif
    if (QCoreApplication::instance()) {
        const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(ours);
        if (QFileInfo(beside).isExecutable()) {
            return beside;
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
                                         "Error opening output file"};
    if (code == 0) {
        return QString();
    }
    if (code == 255) {
        code = -1;
    }
    QString text = QString::asprintf("KVS to RINEX : Terminated with error code %d ", code);
    if (code >= 1 && code <= 12) {
        text += QLatin1Char('(') + QLatin1String(kWords[code - 1]) + QLatin1Char(')');
    } else if (code == -1) {
        text += QStringLiteral("(Invalid command line?)");
    }
    return text;
}

QString RunRinexConversion(const RinexConversionJob& job)
{
    const RinexCommand c = BuildRinexCommand(job.settings, job.kvsPath, job.folder);
    if (!c.profilePath.isEmpty()) {
        // Written whole and renamed into place: a conversion starting meanwhile never reads half a file.
        QSaveFile profile(c.profilePath);
        if (!profile.open(QIODevice::WriteOnly) || profile.write(RinexProfileText(job.settings, job.receiver)) < 0 ||
            !profile.commit()) {
            return profile.errorString();
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
    p.waitForFinished(-1);
    if (p.exitStatus() != QProcess::NormalExit) {
        return p.errorString();  // a crashed converter has no exit code to trust
    }
    const QString result = ConverterExitMessage(p.exitCode());
    if (result.isEmpty() && job.settings.deleteKvs) {
        QFile::remove(job.kvsPath);
    }
    return result;
}

CRinexConversion::CRinexConversion(QObject* parent) : QObject(parent) {}

CRinexConversion::~CRinexConversion()
{
    for (QThread* t : std::as_const(m_threads)) {
        t->wait();
        delete t;
    }
}

void CRinexConversion::Start(const RinexConversionJob& job)
{
    ++m_running;
    QThread* thread = QThread::create([this, job] {
        const QString result = RunRinexConversion(job);
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
