#include "journeys/JourneySupport.h"

#include "app/Connector.h"
#include "app/MainFrame.h"
#include "app/MainView.h"
#include "app/NemolaApp.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"

#include <QAction>
#include <QProcess>
#include <QScreen>
#include <QTest>

namespace {

std::string Describe(const QRect& r)
{
    return std::to_string(r.width()) + "x" + std::to_string(r.height()) + " at (" + std::to_string(r.x()) + "," +
           std::to_string(r.y()) + ")";
}

}  // namespace

void ExpectFitsScreen(const QWidget& window)
{
    ASSERT_NE(window.screen(), nullptr);
    if (const QString shots = qEnvironmentVariable("NEMOLA_JOURNEY_SHOTS"); !shots.isEmpty()) {
        QTest::qWait(400);  // the window manager's frame and the first paint
        // Numbered in the order taken: a journey checks the main window before and after its tool.
        static int taken = 0;
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        const QString journey = QString::fromLatin1(test ? test->name() : "none").replace(QLatin1Char('/'), '-');
        const QString name = QStringLiteral("%1/%2-%3-%4.png")
                                 .arg(shots)
                                 .arg(++taken, 3, 10, QLatin1Char('0'))
                                 .arg(journey, window.objectName());
        QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), name});
    }
    const QRect area = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    EXPECT_TRUE(area.contains(frame)) << window.objectName().toStdString() << " with its frame at " << Describe(frame)
                                      << " is not within the screen's " << Describe(area);
}

void CSimClockWaiter::Wait(int ms)
{
    m_tick.Advance(ms);
    if (m_sim) {
        m_sim->Advance(ms);
    }
    QCoreApplication::processEvents();
}

void Journey::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    m_previousSettings = CProfile::FileName();
    CProfile::SetFileName(m_dir.filePath(QStringLiteral("settings.ini")));
}

void Journey::TearDown()
{
    Quit();
    m_tcp.reset();
    m_waiter.SetSim(nullptr);
    m_sim.reset();
    CProfile::SetFileName(m_previousSettings);
}

void Journey::Launch(const std::function<void(CSimReceiver&)>& prepare, Link link)
{
    SimOptions options = CSimHarness::VirtualClock();
    options.sampleFiles = 3;  // as the program's own simulator has
    m_sim = std::make_unique<CSimHarness>(options, nullptr, false);
    m_waiter.SetSim(m_sim.get());
    if (prepare) {
        prepare(m_sim->Sim());
    }
    // The program's clock moves with the receiver's; the time of day is the real one.
    TimeServices time = m_time.Services();
    time.wallClock = TimeServices::System().wallClock;
    m_app = std::make_unique<CNemolaApp>(time);
    QString receiver = m_sim->Name();
    if (link == Link::Tcp) {
        m_tcp = std::make_unique<CSimTcpServer>(m_sim->SimPtr(), false);
        QString error;
        ASSERT_TRUE(m_tcp->Listen(QHostAddress::LocalHost, 0, &error)) << error.toStdString();
        receiver = QStringLiteral("127.0.0.1:%1").arg(m_tcp->Port());
    }
    ASSERT_TRUE(m_app->Start({QStringLiteral("nemola-m"), QStringLiteral("--receiver"), receiver}));
    m_app->SetWaiter(&m_waiter);
    QCoreApplication::processEvents();  // the "Connection" command the program posts at start
    m_app->Connector().WaitFinished();
    ASSERT_TRUE(State().running) << Frame().StatusText(0).toStdString();
    ExpectFitsScreen(Frame());
}

void Journey::LaunchWithDialog(const std::function<void(QDialog&)>& choose)
{
    m_app = std::make_unique<CNemolaApp>();
    ASSERT_TRUE(m_app->Start({QStringLiteral("nemola-m")}));
    OnModal<QDialog>(
        [&] {
            QCoreApplication::processEvents();  // the "Connection" command the program posts at start
            m_app->Connector().WaitFinished();
        },
        choose);
    ASSERT_TRUE(State().running) << Frame().StatusText(0).toStdString();
    ExpectFitsScreen(Frame());
}

void Journey::Quit()
{
    if (m_app && Frame().isVisible()) {
        Frame().close();
    }
    m_app.reset();
}

CMainFrame& Journey::Frame()
{
    return *m_app->MainFrame();
}

CMainView& Journey::View()
{
    return *m_app->View();
}

ConnectionState& Journey::State()
{
    return m_app->State();
}

QAction* Journey::Action(int commandId)
{
    Frame().UpdateCommandStates();
    QAction* action = Frame().Action(commandId);
    EXPECT_NE(action, nullptr);
    EXPECT_TRUE(action && action->isEnabled()) << commandId;
    return action;
}

void Journey::TriggerAndWait(QAction* action)
{
    ASSERT_NE(action, nullptr);
    action->trigger();
    // A tool restarts the live view when it ends.
    m_app->Connector().WaitFinished();
}

void Journey::Run(int ms)
{
    for (int done = 0; done < ms; done += 1000) {
        if (m_sim) {
            m_waiter.Wait(1000);
        } else {
            QTest::qWait(1000);
        }
    }
}

void Journey::ExpectLiveEpochs()
{
    ASSERT_TRUE(State().running) << Frame().StatusText(0).toStdString();
    EXPECT_TRUE(Frame().isVisible());
    // A tool's stop may leave a snapshot of the run before it queued: only a time that changes is a new epoch.
    // A receiver on a clock of its own (through a server) takes a real second an epoch: one is enough there.
    for (int i = 0; i < (m_sim ? 2 : 1); ++i) {
        const QString before = View().Field(QStringLiteral("time"));
        if (m_sim) {
            m_time.tick.Advance(1000);
            m_sim->Advance(1000);
        }
        ASSERT_TRUE(PumpUntil([&] {
            const QString now = View().Field(QStringLiteral("time"));
            return now != before && now.startsWith(QLatin1String("Receiver time: "));
        })) << "no epoch shown; the view's time reads "
            << View().Field(QStringLiteral("time")).toStdString();
    }
    ExpectFitsScreen(Frame());
}

QStringList Journey::Commands() const
{
    QStringList asked;
    for (const QString& command : m_sim->Sim().ReceivedCommands()) {
        asked << (command.startsWith(QLatin1Char('%')) ? command.section(QLatin1Char('%'), 2) : command);
    }
    return asked;
}
