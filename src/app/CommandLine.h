#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// What the program was asked for on its command line.
struct AppOptions
{
    bool simulator = false;                       // --simulator: connect to a built-in receiver
    QString simProfile = QStringLiteral("full");  // --profile NAME
    uint32_t simSeed = 1;                         // --seed N
    QString receiver;                             // --receiver NAME: connect to it at start
    QString settingsFile;                         // --settings FILE

    bool help = false;
    bool version = false;
    QString helpText;
    QString error;  // non-empty when the command line could not be read
};

// The simulated receivers "--profile" offers: the simulator's profiles, or none in a build without it.
QStringList SimulatorProfiles();

// `arguments` includes the program name first, as QCoreApplication::arguments() gives it. Needs no application
// object, so that a command line is answered before the program looks for a display.
AppOptions ParseCommandLine(const QStringList& arguments, const QStringList& profiles = SimulatorProfiles());

// Answers a command line that ends the program at once (help, version, an error) on stdout or stderr and
// returns the exit code; nothing when the program is to run.
std::optional<int> AnswerCommandLine(const AppOptions& options);
