#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// What the program was asked for on its command line.
struct AppOptions
{
    bool simulator = false;                       // --simulator: connect to a built-in receiver
    QString simProfile = QStringLiteral("full");  // --profile NAME
    uint32_t simSeed = 1;                         // --seed N
    QString receiver;                             // --receiver NAME: connect to it at start
    QString settingsFile;                         // --settings FILE

    bool help = false;
    QString helpText;
    QString error;  // non-empty when the command line could not be read
};

// `arguments` includes the program name first, as QCoreApplication::arguments() gives it.
AppOptions ParseCommandLine(const QStringList& arguments);
