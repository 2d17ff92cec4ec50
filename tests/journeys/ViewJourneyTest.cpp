// How the program ends on a signal: as Exit ends it, the open tool window first, within two seconds.

#include "journeys/JourneySupport.h"

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "files/DownloadPathDlg.h"
#include "link/Profile.h"
#include "logging/ui/RealTimeLogging.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <csignal>

// SIGTERM during a recording: the recording window ends as its own close box ends it, keeping what it wrote, then
// the program as Exit ends it: the receiver sends nothing it asked for, the settings are on disk. (The time it
// takes is checked on the real program below; a busy machine must not end this test's process.)
TEST_F(Journey, SignalDuringARecordingEndsItAndTheProgramAsExitDoes)
{
    Launch();
    m_app->SetSignalExitLimit(60000);
    const QString out = QDir(Folder()).filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(out));
    m_app->Settings().siteName = QStringLiteral("Set in this run");
    OnWindow<CRealTimeLogging>(Action(cmd::kRealTimeLogging), [&](CRealTimeLogging& d) {
        d.pathPage->tree->SelectFolder(out);
        d.messagePage->list->findItems(QStringLiteral("PG"), Qt::MatchExactly).value(0)->setCheckState(0, Qt::Checked);
        d.startButton->click();
        ASSERT_TRUE(d.Running()) << d.Status().toStdString();
        Run(2000);
        std::raise(SIGTERM);
        EXPECT_TRUE(PumpUntil([&] { return !d.isVisible(); }));
    });
    EXPECT_TRUE(PumpUntil([&] { return !Frame().isVisible(); }));
    Quit();
    EXPECT_TRUE(Commands().last().startsWith(QLatin1String("dm"))) << Commands().last().toStdString();
    EXPECT_EQ(QSettings(CProfile::FileName(), QSettings::IniFormat).value("Site/SiteName"), "Set in this run");
    const QStringList files = QDir(out).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_GE(ReadFile(QDir(out).filePath(files[0])).count("PG"), 2);
}

#ifdef NEMOLA_M_BIN
// The real program on its built-in simulator, connected, ended by SIGTERM and by SIGINT: each within two seconds,
// with status 0 and its settings on disk.
TEST(ProgramProcess, SigtermAndSigintEndItAsExitDoesWithinTwoSeconds)
{
    QTemporaryDir dir;
    std::vector<std::pair<int, std::unique_ptr<QProcess>>> runs;
    for (int signal : {SIGTERM, SIGINT}) {
        auto& [sent, process] = runs.emplace_back(signal, std::make_unique<QProcess>());
        process->start(QStringLiteral(NEMOLA_M_BIN), {QStringLiteral("--simulator"), QStringLiteral("--settings"),
                                                      dir.filePath(QString::number(sent))});
        ASSERT_TRUE(process->waitForStarted(5000));
    }
    QThread::msleep(1500);  // connected and showing epochs
    for (auto& [signal, process] : runs) {
        ASSERT_EQ(process->state(), QProcess::Running);
        ::kill(pid_t(process->processId()), signal);
        EXPECT_TRUE(process->waitForFinished(2000)) << signal;
        process->kill();
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process->exitCode(), 0);
        EXPECT_TRUE(
            QSettings(dir.filePath(QString::number(signal)), QSettings::IniFormat).contains("Receiver/ElvMask"));
    }
}
#endif
