#include "link/Profile.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Every test program runs with an offscreen QApplication and a settings file of its own, so that no test
// reads or writes the user's settings.
int main(int argc, char** argv)
{
    // An offscreen platform given with options (a screen of a chosen size) is kept, and so is any platform of a run
    // that saves pictures of the screen to look at.
    if (!qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QLatin1String("offscreen")) &&
        qEnvironmentVariableIsEmpty("NEMOLA_JOURNEY_SHOTS")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QTemporaryDir settingsDir;
    CProfile::SetFileName(settingsDir.filePath(QStringLiteral("settings.ini")));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
