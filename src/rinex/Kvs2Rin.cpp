#include "rinex/Kvs2Rin.h"

#include "rinex/KvsReader.h"
#include "rinex/RinexWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr int kMaxPathLength = 4096;
constexpr qint64 kHeadBytes = 64 * 1024;  // where an existing RINEX file names its recording

}  // namespace

int RunKvs2Rin(const QStringList& args, QString* report, QString* outputPath)
{
    QString input, folder, profile;
    RinexOptions options;
    bool nav = false;
    bool overwrite = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString* out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            *out = args[++i];
            return true;
        };
        if (a == QLatin1String("-i")) {
            if (!value(&input))
                return Kvs2RinExit::BadCommandLine;
        } else if (a == QLatin1String("-o")) {
            if (!value(&folder))
                return Kvs2RinExit::BadCommandLine;
        } else if (a == QLatin1String("-p")) {
            if (!value(&profile))
                return Kvs2RinExit::BadCommandLine;
        } else if (a == QLatin1String("-G")) {
            options.noGps = true;
        } else if (a == QLatin1String("-R")) {
            options.noGlonass = true;
        } else if (a == QLatin1String("-L1")) {
            options.noL1 = true;
        } else if (a == QLatin1String("-L2")) {
            options.noL2 = true;
        } else if (a == QLatin1String("--nav")) {
            nav = true;
        } else if (a == QLatin1String("--overwrite")) {
            overwrite = true;
        } else {
            *report += QStringLiteral("unknown argument: %1\n").arg(a);
            return Kvs2RinExit::BadCommandLine;
        }
    }
    if (input.isEmpty() || (options.noGps && options.noGlonass)) {
        *report += QStringLiteral(
            "usage: kvs2rin -i file.kvs [-o folder] [-p profile.ini] [-G] [-R] [-L1] [-L2] [--nav] [--overwrite]\n");
        return Kvs2RinExit::BadCommandLine;
    }
    QFile in(input);
    if (!in.open(QIODevice::ReadOnly)) {
        *report += QStringLiteral("%1: %2\n").arg(input, in.errorString());
        return Kvs2RinExit::ReadError;
    }
    const QByteArray data = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        *report += QStringLiteral("%1: %2\n").arg(input, in.errorString());
        return Kvs2RinExit::ReadError;
    }
    RinexHeaderInfo info;
    if (!profile.isEmpty()) {
        QFile p(profile);
        if (!p.open(QIODevice::ReadOnly)) {
            *report += QStringLiteral("%1: %2\n").arg(profile, p.errorString());
            return Kvs2RinExit::ReadError;
        }
        info = RinexHeaderInfo::Parse(p.readAll());
    }
    const KvsResult r = CKvsReader::Read(data);
    if (!r.isKvs) {
        *report += QStringLiteral("%1: not a KVS file\n").arg(input);
        return Kvs2RinExit::NotKvs;
    }
    if (r.badTime && r.epochs.empty()) {
        *report += QStringLiteral("%1: the receiver's time scale is not known\n").arg(input);
        return Kvs2RinExit::BadTime;
    }
    if (r.skipped > 0) {
        *report += QStringLiteral("%1: %2 damaged or incomplete items skipped\n").arg(input).arg(r.skipped);
    }
    options.source = QFileInfo(input).fileName();
    int epochs = 0;
    const QByteArray observation = CRinexWriter::Observation(r, info, options, &epochs);
    if (epochs == 0) {
        // Not a success: the caller would take the recording as converted, and may delete it.
        *report += QStringLiteral("%1: No observations in the KVS file\n").arg(input);
        return Kvs2RinExit::NoObservations;
    }
    if (folder.isEmpty()) {
        folder = QFileInfo(input).absolutePath();
    }
    const QString name =
        CRinexWriter::LongName(r, info.Field("MARKER NAME"), QFileInfo(input).completeBaseName(), options);
    const QString path = QDir(folder).filePath(name);
    if (path.size() > kMaxPathLength) {
        return Kvs2RinExit::NameTooLong;
    }
    // Another recording's RINEX file of the same name (one started in the same minute) is never replaced
    // unasked: its recording may already be deleted. One made from this recording is.
    const QString navPath = QDir(folder).filePath(CRinexWriter::LongName(
        r, info.Field("MARKER NAME"), QFileInfo(input).completeBaseName(), options, QStringLiteral("MN")));
    for (const QString& target : nav ? QStringList{path, navPath} : QStringList{path}) {
        QFile existing(target);
        if (!overwrite && existing.exists() &&
            !(existing.open(QIODevice::ReadOnly) &&
              existing.read(kHeadBytes).contains(CRinexWriter::SourceComment(options.source)))) {
            *report += QStringLiteral("%1: made from another recording (--overwrite replaces it)\n").arg(target);
            return Kvs2RinExit::OutputError;
        }
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(observation) < 0 || !out.commit()) {
        *report += QStringLiteral("%1: %2\n").arg(path, out.errorString());
        return Kvs2RinExit::OutputError;
    }
    if (outputPath) {
        *outputPath = path;
    }
    if (nav) {
        QSaveFile navOut(navPath);
        if (!navOut.open(QIODevice::WriteOnly) || navOut.write(CRinexWriter::Navigation(r, info, options)) < 0 ||
            !navOut.commit()) {
            *report += QStringLiteral("%1: %2\n").arg(navOut.fileName(), navOut.errorString());
            return Kvs2RinExit::OutputError;
        }
    }
    if (r.badTime) {
        *report += QStringLiteral("%1: epochs in an unknown time scale were left out\n").arg(input);
        return Kvs2RinExit::BadTime;
    }
    return r.skipped > 0 ? Kvs2RinExit::CorruptData : Kvs2RinExit::Ok;
}
