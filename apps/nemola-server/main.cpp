// nemola-server: the receiver server, in the foreground with its log on stderr.
//   nemola-server --config FILE                 serve (prints "port N" on stdout once listening)
//   nemola-server --config FILE --add-user NAME   password from stdin (asked without echo on a terminal)
//   nemola-server --config FILE --remove-user NAME

#include "server/ReceiverServer.h"
#include "server/UserStore.h"

#include "sim/Simulator.h"

#include "link/InProcessDevice.h"
#include "link/ReceiverName.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

QString ReadPassword()
{
    const bool tty = ::isatty(STDIN_FILENO);
    termios saved{};
    if (tty) {
        std::fprintf(stderr, "Password: ");
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (tty) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    }
    return QString::fromStdString(line);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nemola-server"));
    QLoggingCategory::setFilterRules(QStringLiteral("nemola.*.info=true\nnemola.server.info=true"));
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss} %{type}: %{message}"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Receiver server for Nemola-M"));
    parser.addHelpOption();
    const QCommandLineOption configOption(QStringLiteral("config"), QStringLiteral("Configuration file."),
                                          QStringLiteral("file"), QStringLiteral("/etc/nemola-server/server.conf"));
    const QCommandLineOption addOption(QStringLiteral("add-user"),
                                       QStringLiteral("Add a user (or change a password); the password is read "
                                                      "from stdin."),
                                       QStringLiteral("name"));
    const QCommandLineOption removeOption(QStringLiteral("remove-user"), QStringLiteral("Remove a user."),
                                          QStringLiteral("name"));
    parser.addOptions({configOption, addOption, removeOption});
    parser.process(app);

    ServerConfig config;
    QString error;
    if (!ServerConfig::Load(parser.value(configOption), config, &error)) {
        std::fprintf(stderr, "nemola-server: %s\n", qPrintable(error));
        return 2;
    }
    CUserStore users(config.usersFile);
    if (!users.Load(&error)) {
        std::fprintf(stderr, "nemola-server: %s\n", qPrintable(error));
        return 2;
    }
    if (parser.isSet(addOption)) {
        const QString password = ReadPassword();
        if (password.isEmpty()) {
            std::fprintf(stderr, "nemola-server: an empty password is not accepted\n");
            return 2;
        }
        if (!users.Add(parser.value(addOption), password, config.iterations, &error)) {
            std::fprintf(stderr, "nemola-server: %s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }
    if (parser.isSet(removeOption)) {
        if (!users.Remove(parser.value(removeOption), &error)) {
            std::fprintf(stderr, "nemola-server: %s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }

    // "SIM:<key>" receivers are simulators living in this process.
    for (const auto& r : config.receivers) {
        const ReceiverAddress a = ParseReceiverName(r.second);
        if (a.kind == ReceiverAddress::Kind::Simulator && !FindInProcessDevice(a.simKey)) {
            SimOptions options;
            auto sim = CSimReceiver::Create(options, &error);
            if (!sim) {
                std::fprintf(stderr, "nemola-server: %s\n", qPrintable(error));
                return 2;
            }
            RegisterInProcessDevice(a.simKey, sim);
        }
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        return 1;
    }
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] {
        qInfo("stopping");
        QCoreApplication::quit();
    });
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    CReceiverServer server(config, &users);
    if (!server.Start(&error)) {
        std::fprintf(stderr, "nemola-server: %s\n", qPrintable(error));
        return 1;
    }
    std::fprintf(stdout, "port %u\n", unsigned(server.Port()));
    std::fflush(stdout);
    const int rc = app.exec();
    for (const auto& r : config.receivers) {
        const ReceiverAddress a = ParseReceiverName(r.second);
        if (a.kind == ReceiverAddress::Kind::Simulator) {
            UnregisterInProcessDevice(a.simKey);
        }
    }
    return rc;
}
