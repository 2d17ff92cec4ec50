// The main window's own journeys: what the Site and Target dialogs keep, and how the program ends on a signal.

#include "journeys/JourneySupport.h"

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/MainView.h"
#include "app/NemolaApp.h"
#include "app/SiteDlg.h"
#include "app/TargetDlg.h"
#include "files/DownloadPathDlg.h"
#include "link/Profile.h"
#include "logging/ui/RealTimeLogging.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <csignal>

#include <signal.h>
#include <sys/types.h>

namespace {

// A value of the settings file as it is on disk, not as the running program holds it.
QVariant OnDisk(const char* key)
{
    return QSettings(CProfile::FileName(), QSettings::IniFormat).value(QLatin1String(key));
}

void Click(QWidget& parent, const char* name)
{
    auto* button = parent.findChild<QAbstractButton*>(QLatin1String(name));
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

}  // namespace

// The simulated receiver has no fix for its first seconds: the view says so instead of showing a zero position,
// a PDOP of the satellites it cannot use and distances to the target from 0°N 0°E; the first fix shows values.
TEST_F(Journey, BeforeTheFirstFixTheViewShowsNoSolutionAndDashes)
{
    Launch();
    const auto field = [this](const char* name) { return View().Field(QLatin1String(name)); };
    Run(1000);
    ASSERT_TRUE(PumpUntil([&] { return field("solution") == QLatin1String("(no solution)"); }))
        << field("solution").toStdString();
    EXPECT_EQ(field("position"), QStringLiteral("Lat: —\nLon: —\nAlt: —"));
    EXPECT_EQ(field("target"), QStringLiteral("ETT: —\nNTT: —\nDTT: —\nCTT: —"));
    EXPECT_EQ(field("pdop"), QStringLiteral("PDOP: —"));
    Run(5000);
    ASSERT_TRUE(PumpUntil([&] { return field("solution") != QLatin1String("(no solution)"); }));
    EXPECT_FALSE((field("position") + field("target") + field("pdop")).contains(QStringLiteral("—")));
}

// A target or site set in this run is on disk as soon as its dialog's OK is pressed, whatever ends the program
// later.
TEST_F(Journey, SiteAndTargetAreOnDiskAtOk)
{
    Launch();
    OnWindow<CTargetDlg>(Action(cmd::kSetTargetPosition), [&](CTargetDlg& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("latDegrees"))->setText(QStringLiteral("48"));
        Click(dialog, "ok");
    });
    EXPECT_NEAR(OnDisk("TargetPosition/Lat").toDouble() * 57.29577951308232, 48, 1.0 / 60);
    OnWindow<CSiteDlg>(Action(cmd::kSite), [&](CSiteDlg& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("siteName"))->setText(QStringLiteral("Ridge 4"));
        Click(dialog, "ok");
    });
    EXPECT_EQ(OnDisk("Site/SiteName").toString(), QStringLiteral("Ridge 4"));
    ExpectLiveEpochs();
}

// SIGTERM during a recording: the recording window ends as its own close box ends it (the file keeps every epoch
// written), then the program as Exit ends it, settings on disk, within two seconds.
TEST_F(Journey, SignalDuringARecordingEndsItAndTheProgramAsExitDoes)
{
    Launch();
    const QString out = QDir(Folder()).filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(out));
    m_app->Settings().siteName = QStringLiteral("Set in this run");
    QElapsedTimer clock;
    OnWindow<CRealTimeLogging>(Action(cmd::kRealTimeLogging), [&](CRealTimeLogging& d) {
        d.pathPage->tree->SelectFolder(out);
        Click(d, "defMsgButton");
        Click(d, "allLockButton");
        d.messagePage->list->findItems(QStringLiteral("PG"), Qt::MatchExactly).value(0)->setCheckState(0, Qt::Checked);
        d.startButton->click();
        ASSERT_TRUE(d.Running()) << d.Status().toStdString();
        Run(2000);
        clock.start();
        std::raise(SIGTERM);
        EXPECT_TRUE(PumpUntil([&] { return !d.isVisible(); }, 2000));
        EXPECT_FALSE(d.Running());
    });
    EXPECT_TRUE(PumpUntil([&] { return !Frame().isVisible(); }, 2000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(State().running);
    // As main() would now: the application object goes, and with it the watch that ends a process stuck in exiting.
    Quit();
    // The receiver is left sending nothing the program asked for.
    EXPECT_TRUE(Commands().last().startsWith(QLatin1String("dm"))) << Commands().last().toStdString();
    EXPECT_EQ(OnDisk("Site/SiteName").toString(), QStringLiteral("Set in this run"));
    const QStringList files = QDir(out).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_GE(ReadFile(QDir(out).filePath(files[0])).count("PG"), 2);
}

#ifdef NEMOLA_M_BIN
// The real program on its built-in simulator, ended by SIGTERM and by SIGINT: each ends within two seconds with
// status 0 and its settings on disk.
TEST(ProgramProcess, SigtermAndSigintEndItAsExitDoesWithinTwoSeconds)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Child
    {
        int signal;
        QString settings;
        std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    };
    std::vector<Child> runs;
    for (int signal : {SIGTERM, SIGINT}) {
        Child run{signal, dir.filePath(QStringLiteral("settings-%1.ini").arg(signal))};
        run.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        run.process->start(QStringLiteral(NEMOLA_M_BIN),
                           {QStringLiteral("--simulator"), QStringLiteral("--settings"), run.settings});
        ASSERT_TRUE(run.process->waitForStarted(5000));
        runs.push_back(std::move(run));
    }
    // Long enough to connect and show epochs: the signal finds the live view running.
    QThread::msleep(1500);
    for (Child& run : runs) {
        ASSERT_EQ(run.process->state(), QProcess::Running) << "ended before the signal";
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(run.process->processId()), run.signal);
        const bool ended = run.process->waitForFinished(2000);
        if (!ended) {
            run.process->kill();
            run.process->waitForFinished(2000);
        }
        EXPECT_TRUE(ended) << "signal " << run.signal << " not done in " << clock.elapsed() << " ms";
        EXPECT_EQ(run.process->exitStatus(), QProcess::NormalExit) << run.signal;
        EXPECT_EQ(run.process->exitCode(), 0) << run.signal;
        EXPECT_TRUE(QSettings(run.settings, QSettings::IniFormat).contains(QStringLiteral("Receiver/ElvMask")))
            << run.signal;
    }
}
#endif
