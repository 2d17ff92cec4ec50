#include "app/AppTestSupport.h"
#include "app/CommandIds.h"
#include "app/ConnectionDialog.h"
#include "app/FrameTitle.h"
#include "app/MainFrame.h"
#include "app/MessageDlg.h"
#include "app/NemolaApp.h"
#include "app/SatelliteTime.h"
#include "app/SiteDlg.h"
#include "app/TargetDlg.h"
#include "link/Connection.h"
#include "link/ConnectionInfo.h"
#include "support/FakeTime.h"
#include "support/ScriptedPrompts.h"
#include "ui/FolderTree.h"
#include "ui/SteadyLabel.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

class MainFrame : public FreshSettings
{
protected:
    void SetUp() override
    {
        FreshSettings::SetUp();
        m_app = std::make_unique<CNemolaApp>(m_time.Services());
        ASSERT_TRUE(m_app->Start({QStringLiteral("nemola-m")}));
        // The connection command posted at start-up must not open the dialog.
        m_app->SetReceiverChooser([](CONNECTION_INFO&) { return false; });
        m_frame = m_app->MainFrame();
    }
    void TearDown() override
    {
        m_app.reset();
        FreshSettings::TearDown();
    }

    // The ids of the entries enabled in the current state.
    std::set<int> Enabled()
    {
        m_frame->UpdateCommandStates();
        std::set<int> ids;
        for (QAction* action : m_frame->findChildren<QAction*>()) {
            if (action->data().isValid() && action->isEnabled()) {
                ids.insert(action->data().toInt());
            }
        }
        return ids;
    }

    // A connection whose server is elsewhere on the network (opening it fails, but it keeps its server).
    static std::unique_ptr<CConnection> RemoteConnection()
    {
        auto connection = std::make_unique<CConnection>();
        connection->Open(QStringLiteral("far.example:2000"), QString(), QString(), QStringLiteral("Nemola-M"));
        return connection;
    }

    FakeTime m_time;
    CScriptedPrompts m_prompts;
    std::unique_ptr<CNemolaApp> m_app;
    CMainFrame* m_frame = nullptr;
};

TEST_F(MainFrame, MenuStatusBarAndEntryIds)
{
    const QList<QAction*> top = m_frame->menuBar()->actions();
    ASSERT_EQ(top.size(), 1);
    EXPECT_EQ(top[0]->text(), QStringLiteral("Menu"));
    QStringList seen;
    for (QAction* popup : top[0]->menu()->actions()) {
        seen << QLatin1Char('[') + popup->text() + QLatin1Char(']');
        for (QAction* entry : popup->menu()->actions()) {
            QString item = entry->text();
            if (!entry->shortcut().isEmpty()) {
                item += QLatin1Char(' ') + entry->shortcut().toString();
            }
            seen << item;
        }
    }
    EXPECT_EQ(seen.join(QLatin1Char('|')),
              QStringLiteral("[File]|Connection Ctrl+C|Disconnect Ctrl+D|File Manager Ctrl+F|Real-Time Logging|"
                             "Manual Mode Ctrl+M|Exit Ctrl+X|[Configuration]|Receiver Ctrl+V|"
                             "Compare setup with receiver...|Site Ctrl+I|"
                             "Set Target Position Ctrl+T|Set Satellite Time|[Tools]|Initialize File System|"
                             "Clear NVRAM|Reset Receiver|Message Ctrl+S|Firmware Loader Ctrl+L|[Plot]|Scatter|"
                             "Satellites|Position|[Help]|About Nemola-M|Status Legend"));
    // Other windows find entries by name; the command ids are fixed numbers.
    for (const auto& [id, name] : {std::pair{32771, "actionConnection"}, std::pair{57665, "actionExit"},
                                   std::pair{32889, "actionSetSatelliteTime"}, std::pair{57664, "actionAbout"}}) {
        auto* action = m_frame->findChild<QAction*>(QLatin1String(name));
        ASSERT_NE(action, nullptr) << name;
        EXPECT_EQ(action->data().toInt(), id);
        EXPECT_EQ(m_frame->Action(id), action);
    }

    // Pane 0's first text: in the start-up test; the clock from the start, the time since connecting once connected.
    EXPECT_EQ(m_frame->StatusText(1), m_time.wallClock.LocalNow().toString(QStringLiteral("HH:mm:ss")));
    EXPECT_TRUE(m_frame->StatusText(2).isEmpty());
    EXPECT_LE(m_frame->width(), 480);
    EXPECT_LE(m_frame->height(), 640);
}

const std::set<int> kRunningOnly = {
    cmd::kDisconnect,    cmd::kFileManager,       cmd::kRealTimeLogging,  cmd::kManualMode,     cmd::kReceiverConfig,
    cmd::kSite,          cmd::kSetTargetPosition, cmd::kSetSatelliteTime, cmd::kInitFileSystem, cmd::kClearNvram,
    cmd::kResetReceiver, cmd::kSatellitesPlot,    cmd::kCompareSetup};

std::set<int> With(std::set<int> a, std::initializer_list<int> more)
{
    a.insert(more);
    return a;
}

TEST_F(MainFrame, EnabledEntriesFollowTheConnectionState)
{
    ConnectionState& state = m_app->State();
    EXPECT_EQ(Enabled(), (std::set<int>{cmd::kConnection, cmd::kExit, cmd::kAbout}));
    state.connecting = true;
    EXPECT_EQ(Enabled(), (std::set<int>{cmd::kExit, cmd::kAbout}));

    // Running through the receiver link on this machine, which counts as a server on this controller.
    state.connecting = false;
    state.running = true;
    state.connection = std::make_unique<CConnection>();
    ASSERT_TRUE(state.connection->isLocalServerConn());
    // A popup refreshes its states before it shows.
    EXPECT_FALSE(m_frame->Action(cmd::kDisconnect)->isEnabled());
    emit m_frame->findChild<QMenu*>(QStringLiteral("menuFile"))->aboutToShow();
    EXPECT_TRUE(m_frame->Action(cmd::kDisconnect)->isEnabled());
    EXPECT_EQ(Enabled(), With(kRunningOnly, {cmd::kExit, cmd::kAbout}));
    // A disabled entry's accelerator or trigger does not reach its handler.
    m_frame->Action(cmd::kFirmwareLoader)->trigger();
    m_frame->Action(cmd::kConnection)->trigger();
    EXPECT_FALSE(state.connecting);
    EXPECT_TRUE(state.running);

    state.connection = RemoteConnection();
    EXPECT_EQ(Enabled(), With(kRunningOnly, {cmd::kExit, cmd::kAbout, cmd::kMessage}));

    state.running = false;
    state.connection.reset();
    m_frame->SetNewMessage(true);
    EXPECT_EQ(Enabled(), (std::set<int>{cmd::kConnection, cmd::kExit, cmd::kAbout, cmd::kMessage}));
}

TEST(FrameTitle, ConnectedBaseAndRoverAndTimeSinceConnect)
{
    const struct
    {
        const char *model, *port, *base, *rover, *title;
    } titles[] = {{"GX-1", "ttyUSB0:115200,rtscts", "", "", "Nemola-M to GX-1:ttyUSB0"},
                  {"GX-1", "SIM:", "on", "off", "Nemola-M to GX-1:SIM(base)"},
                  {"GX-1", "192.168.1.5:8002", "off", "{on,auto}", "Nemola-M to GX-1:192.168.1.5(rover)"},
                  {"", "COM3", "on", "on", "Nemola-M to :COM3(base)(rover)"}};
    for (const auto& t : titles) {
        EXPECT_EQ(ConnectedFrameTitle(QLatin1String(t.model), QLatin1String(t.port), QLatin1String(t.base),
                                      QLatin1String(t.rover)),
                  QLatin1String(t.title));
    }
    // Days split off only past a day (24 and 25 hours: in the clock pane test).
    EXPECT_EQ(ConnectedTimeText(0), QStringLiteral("00:00:00"));
    EXPECT_EQ(ConnectedTimeText(3600 + 2 * 60 + 3), QStringLiteral("01:02:03"));
    EXPECT_EQ(ConnectedTimeText(24 * 3600 + 3599), QStringLiteral("24:59:59"));
    EXPECT_EQ(ConnectedTimeText(int64_t(1000) * 24 * 3600 + 61), QStringLiteral("1000d 00:01:01"));
    EXPECT_EQ(ConnectedTimeText(-5), QStringLiteral("00:00:00"));
}

// The controller's clock runs from start-up and on while disconnected; the time since connecting only while running.
TEST_F(MainFrame, ClockPanesShowTimeSinceConnectOnlyWhileRunning)
{
    ConnectionState& state = m_app->State();
    m_time.wallClock.Set(QDateTime(QDate(2024, 6, 1), QTime(13, 0, 1)));
    m_frame->UpdateClockPanes();
    EXPECT_TRUE(m_frame->StatusText(2).isEmpty());
    EXPECT_EQ(m_frame->StatusText(1), QStringLiteral("13:00:01"));

    state.running = true;
    state.connectTick = m_time.tick.TickMs();
    m_time.tick.Advance(25 * 3600 * 1000 + 999);
    m_time.wallClock.Set(QDateTime(QDate(2024, 6, 1), QTime(13, 5, 9)));
    m_frame->UpdateClockPanes();
    EXPECT_EQ(m_frame->StatusText(2), QStringLiteral("1d 01:00:00"));
    EXPECT_EQ(m_frame->StatusText(1), QStringLiteral("13:05:09"));

    // Exactly a day is still hours.
    state.connectTick = m_time.tick.TickMs() - 24 * 3600 * 1000;
    m_frame->UpdateClockPanes();
    EXPECT_EQ(m_frame->StatusText(2), QStringLiteral("24:00:00"));

    // An epoch moves the panes on; the timer leaves them to the epochs while they come, and moves them on when a
    // second passes without one.
    auto* timer = m_frame->findChild<QTimer*>(QStringLiteral("statusTimer"));
    ASSERT_NE(timer, nullptr);
    m_time.tick.Advance(1000);
    m_time.wallClock.Set(QDateTime(QDate(2024, 6, 1), QTime(13, 5, 10)));
    m_frame->OnEpochShown();
    EXPECT_EQ(m_frame->StatusText(2), QStringLiteral("24:00:01"));
    EXPECT_EQ(m_frame->StatusText(1), QStringLiteral("13:05:10"));
    m_time.tick.Advance(999);
    m_time.wallClock.Set(QDateTime(QDate(2024, 6, 1), QTime(13, 5, 11)));
    QMetaObject::invokeMethod(timer, "timeout");
    EXPECT_EQ(m_frame->StatusText(1), QStringLiteral("13:05:10"));
    m_time.tick.Advance(1);
    QMetaObject::invokeMethod(timer, "timeout");
    EXPECT_EQ(m_frame->StatusText(2), QStringLiteral("24:00:02"));
    EXPECT_EQ(m_frame->StatusText(1), QStringLiteral("13:05:11"));

    // Epochs bring the menu entries' states up to date too, once a second.
    ASSERT_FALSE(m_frame->Action(cmd::kConnection)->isEnabled());
    state.running = false;
    m_time.tick.Advance(999);
    m_frame->OnEpochShown();
    EXPECT_FALSE(m_frame->Action(cmd::kConnection)->isEnabled());
    m_time.tick.Advance(1);
    m_frame->OnEpochShown();
    EXPECT_TRUE(m_frame->Action(cmd::kConnection)->isEnabled());
    m_time.wallClock.Set(QDateTime(QDate(2024, 6, 1), QTime(13, 6, 0)));
    QMetaObject::invokeMethod(timer, "timeout");
    EXPECT_EQ(m_frame->StatusText(1), QStringLiteral("13:06:00"));
}

TEST(SatelliteTime, ReadsTheReplyAndShowsDateAndTimeWithoutBraces)
{
    QDateTime utc;
    // Some receivers put a blank before the value.
    for (const char* reply : {"RE019{2024-06-01,12:34:56.789}\r\n", "RE020 {2024-06-01,12:34:56.789}\r\n",
                              "RE019{2024-06-01,12:34:56.789}\n"}) {
        ASSERT_TRUE(ParseSatelliteTime(QLatin1String(reply), &utc)) << reply;
        EXPECT_EQ(utc, QDateTime(QDate(2024, 6, 1), QTime(12, 34, 56, 789), Qt::UTC));
        // The date and the whole seconds.
        EXPECT_EQ(SatelliteTimeShown(QLatin1String(reply)), QStringLiteral("2024-06-01,12:34:56"));
    }
    EXPECT_EQ(SatelliteTimeShown(QStringLiteral("RE0")), QString());

    for (const char* bad : {"RE017 2024-06-01,12:34:56.789\r\n", "RE019{2024-13-01,12:34:56.789}\r\n",
                            "RE019{2024-06-01,25:34:56.789}\r\n", "RE005{2024}\r\n", "ER018{2,,wrong 1st parameter}",
                            "", "RE019{2024-06-01,12:34}"}) {
        EXPECT_FALSE(ParseSatelliteTime(QLatin1String(bad), &utc)) << bad;
    }
}

TEST_F(MainFrame, OnlyExitOrClosingTheFrameEndsTheProgram)
{
    // A tool hides the frame, and a window of its own without a parent comes and goes.
    bool exited = false;
    QTimer::singleShot(0, m_frame, [&] {
        m_frame->hide();
        QWidget().show();
        QTimer::singleShot(50, m_frame, [&] {
            exited = true;
            m_frame->Action(cmd::kExit)->trigger();
        });
    });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(exited);
}

// Screen readers and automation find every field of the main window and its dialogs by a name of its own, never
// by the title of the box around it.
TEST_F(MainFrame, EveryFieldIsAnnouncedByItsOwnName)
{
    SiteInfo site;
    CSiteDlg siteDialog(site, nullptr, nullptr);
    CTargetDlg target(0, 0, false, {}, {});
    CConnectionDialog connection(ConnectionChoice(), {QStringLiteral("ttyS0")});
    CMessageDlg message([]() -> CConnection* { return nullptr; });
    CFolderTree folders;
    for (QWidget* root :
         std::initializer_list<QWidget*>{m_frame, &siteDialog, &target, &connection, &message, &folders}) {
        QSet<QString> names;
        for (const QGroupBox* box : root->findChildren<QGroupBox*>()) {
            names << box->title();
        }
        for (QWidget* field : root->findChildren<QWidget*>()) {
            if ((qobject_cast<QLineEdit*>(field) || qobject_cast<QComboBox*>(field) ||
                 qobject_cast<QTreeView*>(field) || qobject_cast<QPlainTextEdit*>(field) ||
                 qobject_cast<CSteadyLabel*>(field)) &&
                !qobject_cast<QComboBox*>(field->parentWidget())) {
                const QString name = QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name).trimmed();
                EXPECT_FALSE(name.isEmpty() || names.contains(name))
                    << root->objectName().toStdString() << "/" << field->objectName().toStdString() << ": "
                    << name.toStdString();
                names << name;
            }
        }
    }
}

}  // namespace
