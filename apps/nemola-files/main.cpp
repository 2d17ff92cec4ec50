// nemola-files: lists, downloads and removes files of a receiver's memory from a shell, on the same link and
// verification as the program's file manager. Exit status: 0 all done, 1 a file failed or the listing had records
// that could not be read, 2 bad arguments or no connection (also a receiver lost during the run).
#include "files/FileCore.h"
#include "files/FileTransfer.h"
#include "link/Connection.h"
#include "link/FileListing.h"
#include "link/InProcessDevice.h"
#include "link/Receiver.h"
#include "link/ReceiverOptions.h"
#include "link/Scan.h"
#ifdef NEMOLA_FILES_WITH_SIM
#include "sim/Simulator.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <cstdio>
#include <memory>

#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileFailed = 1;
constexpr int kExitNoReceiver = 2;  // also bad arguments

struct Options
{
    ReceiverOptions receiver;
    QString command;  // list, get, rm
    QStringList names;
    QString folder = QStringLiteral(".");
    int blockSize = 16384;
};

const char kUsage[] =
    "Usage: nemola-files [--simulator | --tcp HOST:PORT | --serial DEV[,BAUD]] [--password TEXT]\n"
    "                    list | get NAME... [--to DIR] [--block N] | rm NAME...\n"
    "get stores NAME as DIR/NAME.kvs (DIR default: the current folder), never over an existing file; an\n"
    "interrupted download resumes from its .part file. Exit: 0 done, 1 a file failed or the listing was\n"
    "incomplete, 2 bad arguments or no connection.\n";

void Print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

void Error(const QString& text)
{
    Print(stderr, QStringLiteral("nemola-files: ") + text);
}

bool ParseOptions(const QStringList& args, Options* o, QString* error)
{
    for (int i = 0; i < args.size(); ++i) {
        const OptionStep step = ParseReceiverOption(args, i, &o->receiver, error);
        if (step == OptionStep::Failed) {
            return false;
        }
        if (step == OptionStep::Taken) {
            continue;
        }
        const QString& a = args[i];
        QString v;
        if (a == QLatin1String("--to")) {
            if (!TakeOptionValue(args, i, &o->folder, error)) {
                return false;
            }
        } else if (a == QLatin1String("--block")) {
            bool ok = false;
            if (!TakeOptionValue(args, i, &v, error)) {
                return false;
            }
            o->blockSize = v.toInt(&ok);
            if (!ok || o->blockSize < 512 || o->blockSize > 16384) {
                *error = QStringLiteral("--block needs a size from 512 to 16384");
                return false;
            }
        } else if (a.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unknown option ") + a;
            return false;
        } else if (o->command.isEmpty()) {
            o->command = a;
        } else {
            o->names << a;
        }
    }
    if (o->command == QLatin1String("list")
            ? !o->names.isEmpty()
            : (o->command != QLatin1String("get") && o->command != QLatin1String("rm")) || o->names.isEmpty()) {
        *error = o->command.isEmpty() ? QStringLiteral("no command") : QStringLiteral("bad command line");
        return false;
    }
    return true;
}

bool LinkLost(CReceiver& r)
{
    return r.LastFailure() == CReceiver::Failure::LinkLost || !r.IsOpen();
}

int List(CReceiver& r)
{
    if (!r.SendCommand(QStringLiteral("print,/log/&[name,size,time]"))) {
        Error(QStringLiteral("can't list the files: ") + r.GetReplyString().trimmed());
        return kExitNoReceiver;
    }
    int skipped = 0;
    for (const ReceiverFileRecord& f : ParseFileListing(r.GetReplyString(), &skipped)) {
        Print(stdout,
              QStringLiteral("%1\t%2\t%3 %4")
                  .arg(PrintableName(f.name), PrintableName(f.sizeText), FileDateText(f.time), FileTimeText(f.time)));
    }
    if (skipped > 0) {
        Error(QStringLiteral("the listing is incomplete: %1 record(s) of the receiver could not be read").arg(skipped));
        return kExitFileFailed;
    }
    return kExitOk;
}

int Get(CReceiver& r, const Options& o)
{
    int code = kExitOk;
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    CFileTransfer transfer(r);
    for (const QString& name : o.names) {
        QString why = FileNameProblem(name);
        const QString path = why.isEmpty() ? TargetPath(o.folder, name + QStringLiteral(".kvs"), &why) : QString();
        if (!why.isEmpty()) {
            Error(PrintableName(name) + QStringLiteral(": ") + why);
            code = kExitFileFailed;
            continue;
        }
        auto progress = [&](int64_t received, int64_t size) {
            if (terminal) {
                std::fprintf(stderr, "\r%s  %3d%%  %lld / %lld bytes", PrintableName(name).toLocal8Bit().constData(),
                             DownloadPercent(received, size), static_cast<long long>(received),
                             static_cast<long long>(size));
                std::fflush(stderr);
            }
        };
        const auto result = transfer.Download(name, path, o.blockSize, progress);
        if (terminal) {
            std::fputc('\n', stderr);
        }
        if (result.ok) {
            Print(stdout, QStringLiteral("%1 -> %2: %3").arg(PrintableName(name), PrintableName(path), result.text));
            continue;
        }
        Error(PrintableName(name) + QStringLiteral(": ") + result.text);
        code = kExitFileFailed;
        if (LinkLost(r)) {
            return kExitNoReceiver;
        }
    }
    return code;
}

int Remove(CReceiver& r, const Options& o)
{
    int code = kExitOk;
    for (const QString& name : o.names) {
        const QString why = FileNameProblem(name);
        if (!why.isEmpty()) {
            Error(PrintableName(name) + QStringLiteral(": ") + why);
            code = kExitFileFailed;
            continue;
        }
        if (!r.SendCommand(QStringLiteral("remove,\"/log/%1\"").arg(name))) {
            Error(PrintableName(name) + QStringLiteral(": ") + r.GetReplyString().trimmed());
            if (LinkLost(r)) {
                return kExitNoReceiver;
            }
            code = kExitFileFailed;
        }
    }
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    QString error;
    if (!ParseOptions(app.arguments().mid(1), &options, &error)) {
        Error(error);
        std::fputs(kUsage, stderr);
        return kExitNoReceiver;
    }
    QString receiverName = options.receiver.receiverName;
#ifdef NEMOLA_FILES_WITH_SIM
    std::shared_ptr<CSimReceiver> sim;
    if (options.receiver.simulator) {
        SimOptions simOptions;
        simOptions.sampleFiles = 3;
        simOptions.profile = options.receiver.simProfile;
        sim = std::make_shared<CSimReceiver>(simOptions);
        RegisterInProcessDevice(QStringLiteral("nemola-files"), sim);
        receiverName = QStringLiteral("SIM:nemola-files");
    }
#else
    if (options.receiver.simulator) {
        Error(QStringLiteral("this build has no simulator; give --tcp or --serial"));
        return kExitNoReceiver;
    }
#endif
    int code = kExitOk;
    {
        CConnection connection;
        CReceiver receiver;
        if (!OpenToolReceiver(connection, receiver, receiverName, options.receiver, QStringLiteral("nemola-files"),
                              &error)) {
            Error(error);
            code = kExitNoReceiver;
        } else if (!receiver.SendCommand(QStringLiteral("%%dm"))) {
            // The port's message output would mix with the blocks of a download.
            Error(QStringLiteral("can't stop the port's messages: ") + receiver.GetReplyString().trimmed());
            code = kExitNoReceiver;
        } else if (options.command == QLatin1String("list")) {
            code = List(receiver);
        } else if (options.command == QLatin1String("get")) {
            code = Get(receiver, options);
        } else {
            code = Remove(receiver, options);
        }
        receiver.Close();
        connection.Close();
    }
#ifdef NEMOLA_FILES_WITH_SIM
    if (sim) {
        UnregisterInProcessDevice(QStringLiteral("nemola-files"));
    }
#endif
    return code;
}
