#include "RunnerOptions.h"

#include "link/ReceiverName.h"
#include "link/ReceiverOptions.h"

QString RunnerUsage()
{
    return QStringLiteral(
        "Usage: nemola-run [--simulator[=PROFILE] | --tcp HOST:PORT[,nogreeting] | --serial DEVICE[,BAUD][,rtscts]]\n"
        "                  [--folder DIR] [--password TEXT] [--check | --apply-differences] [--json]\n"
        "                  SCRIPT [ARG...]\n"
        "Connects to a receiver and runs the script SCRIPT with the arguments ARG (@1 ... @9).\n"
        "--check compares the setup that SCRIPT (a setup script, no ARG) makes with the receiver without\n"
        "changing it and prints what differs; --apply-differences then sets only those parameters and reads\n"
        "them back; --json prints the comparison as JSON.\n"
        "A SCRIPT without an extension is taken as SCRIPT.kvs; names are relative to the script folder\n"
        "(--folder, else the folder of SCRIPT when it names one, else the current folder).\n"
        "Without a receiver option the built-in simulator is used. --password (or the environment variable\n"
        "NEMOLA_PASSWORD) answers a TCP receiver's login. \",nogreeting\" skips the wait for a greeting, for a\n"
        "receiver known to send none and to ask for no login.\n"
        "Exit status: 0 the script ended normally, 1 it ended on an error reply, a missing file or a stop,\n"
        "2 bad arguments or no connection to the receiver (also lost or silent during the run),\n"
        "3 the script ended itself at \"@stop\", 4 the output could not be written.\n"
        "With --check: 0 the receiver matches the setup, 5 it differs. With --apply-differences: 0 every\n"
        "applied parameter read back as set, 1 the receiver refused one, 6 it kept another value, 5 some are\n"
        "not on the receiver or unreadable. Both: 2 and 3 as above.\n");
}

namespace {

// The script's name and arguments: its folder, its file and the "@" line that runs it.
bool TakeScript(QStringList script, RunnerOptions* options, QString* error)
{
    // A script named with its folder runs from there, so that the scripts it calls are found beside it.
    if (options->folder.isEmpty()) {
        const int slash = int(script[0].lastIndexOf(QLatin1Char('/')));
        if (slash >= 0) {
            options->folder = slash == 0 ? QStringLiteral("/") : script[0].left(slash);
            script[0] = script[0].mid(slash + 1);
        } else {
            options->folder = QStringLiteral(".");
        }
    }
    // The interpreter cuts arguments at blanks; only the name can keep them, in quotes.
    auto hasBlank = [](const QString& text) {
        return text.contains(QLatin1Char(' ')) || text.contains(QLatin1Char('\t'));
    };
    for (qsizetype k = 0; k < script.size(); ++k) {
        const QString& token = script[k];
        if (token.isEmpty() || (k > 0 && hasBlank(token)) || (k == 0 && token.contains(QLatin1Char('"')))) {
            *error = QStringLiteral("script arguments can't contain blanks or be empty, names can't hold quotes");
            return false;
        }
    }
    options->scriptPath = options->folder + QLatin1Char('/') + script[0];
    if (hasBlank(script[0])) {
        script[0] = QLatin1Char('"') + script[0] + QLatin1Char('"');
    }
    options->invocation = script.join(QLatin1Char(' '));
    return true;
}

}  // namespace

bool ParseRunnerOptions(const QStringList& args, RunnerOptions* options, QString* error)
{
    *options = RunnerOptions{};
    QStringList script;
    ReceiverOptions receiver;
    int i = 0;
    for (; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--")) {
            ++i;
            break;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            break;  // the script name; everything after it belongs to the script
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options->help = true;
            return true;
        }
        // A receiver option of every tool; an empty password is not one (the environment's is taken instead).
        const OptionStep step = ParseReceiverOption(args, i, &receiver, error);
        if (step == OptionStep::Failed) {
            return false;
        }
        if (step == OptionStep::Taken) {
            if (MatchesOption(arg, QLatin1String("--password")) && receiver.password.isEmpty()) {
                *error = QStringLiteral("--password needs a value");
                return false;
            }
            continue;
        }
        if (arg == QLatin1String("--check")) {
            options->mode = options->mode == RunnerOptions::Mode::Run ? RunnerOptions::Mode::Check : options->mode;
        } else if (arg == QLatin1String("--apply-differences")) {
            options->mode = RunnerOptions::Mode::ApplyDifferences;
        } else if (arg == QLatin1String("--json")) {
            options->json = true;
        } else if (MatchesOption(arg, QLatin1String("--folder"))) {
            if (!TakeOptionValue(args, i, &options->folder, error)) {
                return false;
            }
            if (options->folder.isEmpty()) {
                *error = QStringLiteral("--folder needs a value");
                return false;
            }
        } else {
            *error = QStringLiteral("unknown option %1").arg(arg);
            return false;
        }
    }
    for (; i < args.size(); ++i) {
        script << args[i];
    }
    options->targetGiven = receiver.targetGiven;
    options->simProfile = receiver.simProfile;
    options->receiverName = receiver.receiverName;
    options->password = receiver.password;
    if (!receiver.simulator) {
        const bool tcp = ParseReceiverName(receiver.receiverName).kind == ReceiverAddress::Kind::Tcp;
        options->target = tcp ? RunnerOptions::Target::Tcp : RunnerOptions::Target::Serial;
    }
    if (script.isEmpty() || script[0].isEmpty()) {
        *error = QStringLiteral("no script given");
        return false;
    }
    if (options->json && options->mode == RunnerOptions::Mode::Run) {
        options->mode = RunnerOptions::Mode::Check;
    }
    if (options->mode != RunnerOptions::Mode::Run && script.size() > 1) {
        *error = QStringLiteral("a setup is compared without script arguments");
        return false;
    }
    if (script.size() > 10) {
        *error = QStringLiteral("at most nine script arguments");
        return false;
    }
    return TakeScript(script, options, error);
}
