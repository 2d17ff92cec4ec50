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

// The command line, read.
struct Arguments
{
    QString input, folder, profile;
    RinexOptions options;
    bool nav = false;
    bool overwrite = false;
};

// Returns the exit code of a command line it refuses, 0 for one it takes.
int ParseArguments(const QStringList& args, Arguments& a, QString* report)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        auto value = [&](QString* out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            *out = args[++i];
            return true;
        };
        if (arg == QLatin1String("-i")) {
            if (!value(&a.input))
                return Kvs2RinExit::BadCommandLine;
        } else if (arg == QLatin1String("-o")) {
            if (!value(&a.folder))
                return Kvs2RinExit::BadCommandLine;
        } else if (arg == QLatin1String("-p")) {
            if (!value(&a.profile))
                return Kvs2RinExit::BadCommandLine;
        } else if (arg == QLatin1String("-G")) {
            a.options.noGps = true;
        } else if (arg == QLatin1String("-R")) {
            a.options.noGlonass = true;
        } else if (arg == QLatin1String("-L1")) {
            a.options.noL1 = true;
        } else if (arg == QLatin1String("-L2")) {
            a.options.noL2 = true;
        } else if (arg == QLatin1String("--nav")) {
            a.nav = true;
        } else if (arg == QLatin1String("--overwrite")) {
            a.overwrite = true;
        } else {
            *report += QStringLiteral("unknown argument: %1\n").arg(arg);
            return Kvs2RinExit::BadCommandLine;
        }
    }
    if (a.input.isEmpty() || (a.options.noGps && a.options.noGlonass)) {
        *report += QStringLiteral(
            "usage: kvs2rin -i file.kvs [-o folder] [-p profile.ini] [-G] [-R] [-L1] [-L2] [--nav] [--overwrite]\n");
        return Kvs2RinExit::BadCommandLine;
    }
    return Kvs2RinExit::Ok;
}

// Reads the recording and the header profile; returns the exit code of a failure, 0 on success.
int ReadInputs(const Arguments& a, QByteArray* data, RinexHeaderInfo* info, QString* report)
{
    QFile in(a.input);
    if (!in.open(QIODevice::ReadOnly)) {
        *report += QStringLiteral("%1: %2\n").arg(a.input, in.errorString());
        return Kvs2RinExit::ReadError;
    }
    *data = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        *report += QStringLiteral("%1: %2\n").arg(a.input, in.errorString());
        return Kvs2RinExit::ReadError;
    }
    if (!a.profile.isEmpty()) {
        QFile p(a.profile);
        if (!p.open(QIODevice::ReadOnly)) {
            *report += QStringLiteral("%1: %2\n").arg(a.profile, p.errorString());
            return Kvs2RinExit::ReadError;
        }
        *info = RinexHeaderInfo::Parse(p.readAll());
    }
    return Kvs2RinExit::Ok;
}

// Another recording's RINEX file of the same name (one started in the same minute) is never replaced unasked: its
// recording may already be deleted. One made from this recording is.
bool MayReplace(const QStringList& targets, const Arguments& a, QString* report)
{
    for (const QString& target : targets) {
        QFile existing(target);
        if (!a.overwrite && existing.exists() &&
            !(existing.open(QIODevice::ReadOnly) &&
              existing.read(kHeadBytes).contains(CRinexWriter::SourceComment(a.options.source)))) {
            *report += QStringLiteral("%1: made from another recording (--overwrite replaces it)\n").arg(target);
            return false;
        }
    }
    return true;
}

bool WriteWhole(const QString& path, const QByteArray& content, QString* report)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) < 0 || !out.commit()) {
        *report += QStringLiteral("%1: %2\n").arg(path, out.errorString());
        return false;
    }
    return true;
}

}  // namespace

int RunKvs2Rin(const QStringList& args, QString* report, QString* outputPath)
{
    Arguments a;
    QByteArray data;
    RinexHeaderInfo info;
    if (const int refused = ParseArguments(args, a, report)) {
        return refused;
    }
    if (const int failed = ReadInputs(a, &data, &info, report)) {
        return failed;
    }
    const QString& input = a.input;
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
    RinexOptions& options = a.options;
    options.source = QFileInfo(input).fileName();
    int epochs = 0;
    const QByteArray observation = CRinexWriter::Observation(r, info, options, &epochs);
    if (epochs == 0) {
        // Not a success: the caller would take the recording as converted, and may delete it.
        *report += QStringLiteral("%1: No observations in the KVS file\n").arg(input);
        return Kvs2RinExit::NoObservations;
    }
    const QDir folder(a.folder.isEmpty() ? QFileInfo(input).absolutePath() : a.folder);
    const QString base = QFileInfo(input).completeBaseName();
    const QString path = folder.filePath(CRinexWriter::LongName(r, info.Field("MARKER NAME"), base, options));
    if (path.size() > kMaxPathLength) {
        return Kvs2RinExit::NameTooLong;
    }
    const QString navPath =
        folder.filePath(CRinexWriter::LongName(r, info.Field("MARKER NAME"), base, options, QStringLiteral("MN")));
    if (!MayReplace(a.nav ? QStringList{path, navPath} : QStringList{path}, a, report) ||
        !WriteWhole(path, observation, report)) {
        return Kvs2RinExit::OutputError;
    }
    if (outputPath) {
        *outputPath = path;
    }
    if (a.nav && !WriteWhole(navPath, CRinexWriter::Navigation(r, info, options), report)) {
        return Kvs2RinExit::OutputError;
    }
    if (r.badTime) {
        *report += QStringLiteral("%1: epochs in an unknown time scale were left out\n").arg(input);
        return Kvs2RinExit::BadTime;
    }
    return r.skipped > 0 ? Kvs2RinExit::CorruptData : Kvs2RinExit::Ok;
}
