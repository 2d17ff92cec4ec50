#pragma once

#include <QString>
#include <QStringList>

// The command line of nemola-run:
//   nemola-run [--simulator[=PROFILE] | --tcp HOST:PORT[,nogreeting] | --serial DEVICE[,BAUD][,rtscts]] [--folder DIR]
//              [--password TEXT] SCRIPT [ARG...]
struct RunnerOptions
{
    enum class Target { Simulator, Tcp, Serial };

    Target target = Target::Simulator;
    bool targetGiven = false;
    QString simProfile = QStringLiteral("full");
    QString receiverName;  // for Tcp and Serial, in the link's form ("host:port", "/dev/ttyUSB0:115200")
    QString folder;        // script folder; empty: see ScriptFolder()
    QString invocation;    // script name and arguments, as an "@" line of the terminal gives them
    QString password;      // for a receiver's TCP login; null when not given
    bool help = false;
};

// Reads the arguments after the program name. False with `error` set when they are not usable.
bool ParseRunnerOptions(const QStringList& args, RunnerOptions* options, QString* error);

QString RunnerUsage();
