#include "app/CommandLine.h"

#include "link/ReceiverName.h"

#include <QCommandLineParser>
#include <QFileInfo>

#ifdef NEMOLA_HAVE_SIM
#include "sim/Simulator.h"
#endif

#include <cstdio>

#ifndef NEMOLA_VERSION
#define NEMOLA_VERSION "0.0.0"
#endif

QStringList SimulatorProfiles()
{
#ifdef NEMOLA_HAVE_SIM
    return SimProfileNames();
#else
    return {};
#endif
}

namespace {

// "a, b or c"
QString Alternatives(QStringList names)
{
    if (names.size() < 2) {
        return names.value(0);
    }
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

}  // namespace

AppOptions ParseCommandLine(const QStringList& arguments, const QStringList& profiles)
{
    AppOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Nemola-M, a controller for GNSS receivers"));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Displays version information."));
    const QCommandLineOption simOption(QStringLiteral("simulator"),
                                       QStringLiteral("Connect to the built-in receiver simulator."));
    const QCommandLineOption profileOption(
        QStringLiteral("profile"), QStringLiteral("Simulated receiver: %1 (default full).").arg(Alternatives(profiles)),
        QStringLiteral("NAME"), QStringLiteral("full"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Seed of the simulated receiver."),
                                        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption receiverOption(
        QStringLiteral("receiver"),
        QStringLiteral("Connect to this receiver at start, e.g. ttyUSB0:115200,rtscts or 192.168.1.5:8002."),
        QStringLiteral("NAME"));
    const QCommandLineOption settingsOption(QStringLiteral("settings"), QStringLiteral("Settings file to use."),
                                            QStringLiteral("FILE"));
    parser.addOptions({versionOption, simOption, profileOption, seedOption, receiverOption, settingsOption});

    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    if (parser.isSet(helpOption)) {
        options.help = true;
        options.helpText = parser.helpText();
        // Read before there is an application object, which would name the program.
        options.helpText.replace(QLatin1String("<executable_name>"), QFileInfo(arguments.value(0)).fileName());
        return options;
    }
    if (parser.isSet(versionOption)) {
        options.version = true;
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.error = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().constFirst());
        return options;
    }
    options.simulator = parser.isSet(simOption);
    options.simProfile = parser.value(profileOption);
    if (!profiles.contains(options.simProfile)) {
        options.error = QStringLiteral("Unknown simulator profile: %1").arg(options.simProfile);
        return options;
    }
    bool ok = false;
    const qulonglong seed = parser.value(seedOption).toULongLong(&ok);
    if (!ok || seed > 0xFFFFFFFFull) {
        options.error = QStringLiteral("Invalid seed: %1").arg(parser.value(seedOption));
        return options;
    }
    options.simSeed = uint32_t(seed);
    if (parser.isSet(receiverOption)) {
        options.receiver = parser.value(receiverOption).trimmed();
        if (ParseReceiverName(options.receiver).kind == ReceiverAddress::Kind::Invalid) {
            options.error = QStringLiteral("Invalid receiver name: %1").arg(options.receiver);
            return options;
        }
    }
    if (options.simulator && !options.receiver.isEmpty()) {
        options.error = QStringLiteral("--simulator and --receiver exclude each other");
        return options;
    }
    options.settingsFile = parser.value(settingsOption);
    return options;
}

std::optional<int> AnswerCommandLine(const AppOptions& options)
{
    if (options.help) {
        std::fputs(qPrintable(options.helpText), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("nemola-m %s\n", NEMOLA_VERSION);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "nemola-m: %s\n", qPrintable(options.error));
        return 2;
    }
    return std::nullopt;
}
