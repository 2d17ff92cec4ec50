// nemola-sim: the receiver simulator on a TCP port and/or a pseudo-terminal, until it is stopped.
//   nemola-sim --tcp 8002 [--login] [--bind 0.0.0.0]
//   nemola-sim --pty                 prints the slave device path on a line of its own
//   nemola-sim --pty --line-rate 115200 [--latency 2]   paced like a serial line through a USB adapter
//   --profile full|basic|lite|...  --seed N  --rate HZ  --start-time 2024-06-01T23:58:00 (UTC)  --drop-after S
//   --raw-profile ITEMS  --slips SAT@S,...   raw-data behaviour and cycle slips (see --help)
//   --refuse-param PATH  --keep-param PATH  --missing-param PATH   parameters that make a setup's verification
//                                                                   matter (repeatable)
// On stdout: the pty's path ("/dev/pts/N") and "tcp port N", each on a line of its own.

#include "sim/SimPty.h"
#include "sim/SimTcpServer.h"
#include "sim/Simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

void PrintLine(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

struct SimFlags
{
    QCommandLineOption tcpOption{QStringLiteral("tcp"), QStringLiteral("Serve TCP clients on <port> (0: any)."),
                                 QStringLiteral("port")};
    QCommandLineOption bindOption{QStringLiteral("bind"), QStringLiteral("Listen on <address>."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1")};
    QCommandLineOption loginOption{QStringLiteral("login"), QStringLiteral("Greet TCP clients with a login.")};
    QCommandLineOption ptyOption{QStringLiteral("pty"), QStringLiteral("Serve /dev/ser/a on a pseudo-terminal.")};
    QCommandLineOption profileOption{QStringLiteral("profile"),
                                     QStringLiteral("Receiver profile: %1 (default full).").arg(SimProfileList()),
                                     QStringLiteral("name"), QStringLiteral("full")};
    QCommandLineOption seedOption{QStringLiteral("seed"), QStringLiteral("Seed of the simulation."),
                                  QStringLiteral("n"), QStringLiteral("1")};
    QCommandLineOption rateOption{QStringLiteral("line-rate"),
                                  QStringLiteral("Pace the pty like a serial line of <baud> (10 bits a byte)."),
                                  QStringLiteral("baud")};
    QCommandLineOption latencyOption{QStringLiteral("latency"),
                                     QStringLiteral("Delay every byte on the pty by <ms>, as a USB adapter."),
                                     QStringLiteral("ms"), QStringLiteral("0")};
    QCommandLineOption startOption{QStringLiteral("start-time"),
                                   QStringLiteral("Receiver UTC at start, e.g. 2024-06-01T23:58:00."),
                                   QStringLiteral("utc")};
    QCommandLineOption dropOption{QStringLiteral("drop-after"),
                                  QStringLiteral("Drop every session <s> seconds after start (link-loss tests)."),
                                  QStringLiteral("s")};
    QCommandLineOption rawOption{
        QStringLiteral("raw-profile"),
        QStringLiteral("Raw data as a particular receiver reports them, comma-separated: the time scale of its time "
                       "and date (gps, utc-usno, glonass, utc-su), si-on-change (satellite indices only when they "
                       "change), unknown-slot=N (GLONASS slot N reported as 255), no-channel-slot=N (GLONASS slot N "
                       "listed without its channel)."),
        QStringLiteral("items")};
    QCommandLineOption slipsOption{
        QStringLiteral("slips"),
        QStringLiteral("Cycle slips, comma-separated satellite@seconds since start: G (GPS PRN), R (GLONASS slot), "
                       "E (Galileo), S (SBAS), e.g. G05@120,R07@300."),
        QStringLiteral("list")};
    QCommandLineOption epochRateOption{QStringLiteral("rate"),
                                       QStringLiteral("Output messages asked for once a second <hz> times a second."),
                                       QStringLiteral("hz"), QStringLiteral("0")};
    // What real receivers do that makes reading a setup back worth it. Real values also keep the receiver's
    // resolution, the decimals of their default: a PDOP mask of 6.57 reads back 6.6.
    QCommandLineOption refuseOption{
        QStringLiteral("refuse-param"),
        QStringLiteral("Refuse every \"set\" of <path> with an error (parameter locked). Repeatable."),
        QStringLiteral("path")};
    QCommandLineOption keepOption{
        QStringLiteral("keep-param"),
        QStringLiteral("Acknowledge a valid \"set\" of <path> and keep its value, as a receiver does for a parameter "
                       "its present state fixes. Repeatable."),
        QStringLiteral("path")};
    QCommandLineOption missingOption{
        QStringLiteral("missing-param"),
        QStringLiteral("Lack <path>, as an older firmware does: print, set and list answer as for an unknown "
                       "parameter. Repeatable."),
        QStringLiteral("path")};

    void AddTo(QCommandLineParser& parser) const
    {
        parser.addOptions({tcpOption, bindOption, loginOption, ptyOption, profileOption, seedOption, rateOption,
                           latencyOption, startOption, dropOption, rawOption, slipsOption, epochRateOption,
                           refuseOption, keepOption, missingOption});
    }
};

// Reads the simulation's options; says what is wrong and returns false on a bad one.
bool ReadOptions(const QCommandLineParser& parser, const SimFlags& f, SimOptions* options, double* dropAfter)
{
    if (!parser.isSet(f.tcpOption) && !parser.isSet(f.ptyOption)) {
        std::fprintf(stderr, "nemola-sim: give --tcp PORT and/or --pty\n");
        return false;
    }
    options->sampleFiles = 3;
    options->profile = parser.value(f.profileOption);
    bool ok = false;
    options->seed = parser.value(f.seedOption).toUInt(&ok);
    if (!ok) {
        std::fprintf(stderr, "nemola-sim: --seed needs a number\n");
        return false;
    }
    options->tcpLogin = parser.isSet(f.loginOption);
    if (parser.isSet(f.startOption)) {
        QDateTime start = QDateTime::fromString(parser.value(f.startOption), Qt::ISODateWithMs);
        start.setTimeSpec(Qt::UTC);
        if (!start.isValid()) {
            std::fprintf(stderr, "nemola-sim: --start-time needs a UTC date and time (2024-06-01T23:58:00)\n");
            return false;
        }
        options->startUtcMs = start.toMSecsSinceEpoch();
    }
    *dropAfter = parser.isSet(f.dropOption) ? parser.value(f.dropOption).toDouble(&ok) : 0;
    if (parser.isSet(f.dropOption) && (!ok || *dropAfter <= 0)) {
        std::fprintf(stderr, "nemola-sim: --drop-after needs seconds\n");
        return false;
    }
    options->epochRateHz = parser.value(f.epochRateOption).toInt(&ok);
    if (!ok || options->epochRateHz < 0 || options->epochRateHz > 100) {
        std::fprintf(stderr, "nemola-sim: --rate needs a number of epochs a second up to 100\n");
        return false;
    }
    QString error;
    if (!ParseRawProfile(parser.value(f.rawOption), &options->raw, &error) ||
        !ParseCycleSlips(parser.value(f.slipsOption), &options->slips, &error)) {
        std::fprintf(stderr, "nemola-sim: %s\n", error.toLocal8Bit().constData());
        return false;
    }
    return true;
}

bool InstallSignalPipe(QCoreApplication& app)
{
    // SIGTERM and SIGINT end the event loop through a pipe, so that everything is closed in order.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        return false;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char c = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
        QCoreApplication::quit();
    });
    struct sigaction sa
    {
    };
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Opens the TCP port and the pseudo-terminal asked for and prints where they are; an exit code on failure, 0
// when serving.
int StartServers(const QCommandLineParser& parser, const SimFlags& f, const std::shared_ptr<CSimReceiver>& receiver,
                 bool tcpLogin, std::unique_ptr<CSimTcpServer>* tcp, std::unique_ptr<CSimPty>* pty)
{
    bool ok = true;
    QString error;
    if (parser.isSet(f.tcpOption)) {
        const uint port = parser.value(f.tcpOption).toUInt(&ok);
        const QHostAddress address(parser.value(f.bindOption));
        if (!ok || port > 65535 || address.isNull()) {
            std::fprintf(stderr, "nemola-sim: bad --tcp port or --bind address\n");
            return 2;
        }
        *tcp = std::make_unique<CSimTcpServer>(receiver, tcpLogin);
        if (!(*tcp)->Listen(address, quint16(port), &error)) {
            std::fprintf(stderr, "nemola-sim: can't listen on TCP port %u: %s\n", port,
                         error.toLocal8Bit().constData());
            return 1;
        }
        PrintLine(QStringLiteral("tcp port %1").arg((*tcp)->Port()));
    }
    if (parser.isSet(f.ptyOption)) {
        *pty = std::make_unique<CSimPty>(receiver);
        const int baud = parser.isSet(f.rateOption) ? parser.value(f.rateOption).toInt(&ok) : 0;
        const int latency = ok ? parser.value(f.latencyOption).toInt(&ok) : 0;
        if (!ok || baud < 0 || latency < 0 || latency > 10000) {
            std::fprintf(stderr, "nemola-sim: --line-rate and --latency need numbers\n");
            return 2;
        }
        (*pty)->SetLine(baud, latency);
        if (!(*pty)->Open(&error)) {
            std::fprintf(stderr, "nemola-sim: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
        PrintLine((*pty)->SlavePath());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nemola-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated GNSS receiver for Nemola-M"));
    parser.addHelpOption();
    const SimFlags f;
    f.AddTo(parser);
    parser.process(app);

    SimOptions options;
    double dropAfter = 0;
    if (!ReadOptions(parser, f, &options, &dropAfter)) {
        return 2;
    }
    QString error;
    auto receiver = CSimReceiver::Create(options, &error);
    if (!receiver) {
        std::fprintf(stderr, "nemola-sim: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    for (const QString& path : parser.values(f.refuseOption)) {
        receiver->RefuseParam(path);
    }
    for (const QString& path : parser.values(f.keepOption)) {
        receiver->KeepParam(path);
    }
    for (const QString& path : parser.values(f.missingOption)) {
        receiver->HideParam(path);
    }

    // Installed before the listeners announce themselves: a caller may stop us as soon as it has read the port.
    if (!InstallSignalPipe(app)) {
        return 1;
    }
    std::unique_ptr<CSimTcpServer> tcp;
    std::unique_ptr<CSimPty> pty;
    if (const int code = StartServers(parser, f, receiver, options.tcpLogin, &tcp, &pty); code != 0) {
        return code;
    }
    if (dropAfter > 0) {
        QTimer::singleShot(int(dropAfter * 1000), &app,
                           [receiver] { receiver->DropSessions(QStringLiteral("The receiver's port went away")); });
    }
    const int rc = app.exec();
    pty.reset();
    tcp.reset();
    receiver.reset();
    return rc;
}
