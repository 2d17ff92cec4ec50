#include "app/CommandLine.h"

#include "link/ReceiverName.h"

#include <QCommandLineParser>

AppOptions ParseCommandLine(const QStringList& arguments)
{
    AppOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Nemola-M, a controller for GNSS receivers"));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption simOption(QStringLiteral("simulator"),
                                       QStringLiteral("Connect to the built-in receiver simulator."));
    const QCommandLineOption profileOption(QStringLiteral("profile"),
                                           QStringLiteral("Simulated receiver: full or basic (default full)."),
                                           QStringLiteral("NAME"), QStringLiteral("full"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Seed of the simulated receiver."),
                                        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption receiverOption(
        QStringLiteral("receiver"),
        QStringLiteral("Connect to this receiver at start, e.g. ttyUSB0:115200,rtscts or 192.168.1.5:8002."),
        QStringLiteral("NAME"));
    const QCommandLineOption settingsOption(QStringLiteral("settings"), QStringLiteral("Settings file to use."),
                                            QStringLiteral("FILE"));
    parser.addOptions({simOption, profileOption, seedOption, receiverOption, settingsOption});

    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    if (parser.isSet(helpOption)) {
        options.help = true;
        options.helpText = parser.helpText();
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.error = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().constFirst());
        return options;
    }
    options.simulator = parser.isSet(simOption);
    options.simProfile = parser.value(profileOption);
    if (options.simProfile != QLatin1String("full") && options.simProfile != QLatin1String("basic")) {
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
