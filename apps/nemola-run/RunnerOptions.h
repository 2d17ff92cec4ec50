#pragma once

#include <QString>
#include <QStringList>

// The command line of nemola-run:
//   nemola-run [--simulator[=PROFILE] | --tcp HOST:PORT[,nogreeting] | --serial DEVICE[,BAUD][,rtscts]] [--folder DIR]
//              [--password TEXT] [--check | --apply-differences] [--json] SCRIPT [ARG...]
struct RunnerOptions
{
    enum class Target { Simulator, Tcp, Serial };
    // Run the script; or compare the setup it makes with the receiver; or also apply what differs.
    enum class Mode { Run, Check, ApplyDifferences };

    Target target = Target::Simulator;
    bool targetGiven = false;
    QString simProfile = QStringLiteral("full");
    QString receiverName;  // for Tcp and Serial, in the link's form ("host:port", "/dev/ttyUSB0:115200")
    QString folder;        // script folder; empty: see ScriptFolder()
    QString invocation;    // script name and arguments, as an "@" line of the terminal gives them
    QString password;      // for a receiver's TCP login; null when not given
    Mode mode = Mode::Run;
    bool json = false;   // the comparison as JSON on stdout (implies Check without ApplyDifferences)
    QString scriptPath;  // the script's file, its folder included ("./base.kvc"), for Check and ApplyDifferences
    bool help = false;
};

// Reads the arguments after the program name. False with `error` set when they are not usable.
bool ParseRunnerOptions(const QStringList& args, RunnerOptions* options, QString* error);

QString RunnerUsage();
