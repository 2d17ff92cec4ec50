// Every menu command as the user meets it: the program's own action, the real window it opens on the receiver
// the program connected to, the window's main job, what the user sees or gets, and the live view back afterwards.
// Each window must fit the screen with its frame; the suite runs on a handheld's screen and on a desktop's.

#include "journeys/JourneySupport.h"
#include "server/ServerProcess.h"

#include "app/AboutDialog.h"
#include "app/CommandIds.h"
#include "app/Connector.h"
#include "app/MainFrame.h"
#include "app/MainView.h"
#include "app/MessageDlg.h"
#include "app/NemolaApp.h"
#include "app/SiteDlg.h"
#include "app/TargetDlg.h"
#include "config/ConfigPage.h"
#include "config/ReceiverCfgDlg.h"
#include "files/CurrentLogFileDlg.h"
#include "files/DownloadFilesDlg.h"
#include "files/DownloadPathDlg.h"
#include "files/FileManager.h"
#include "files/Format.h"
#include "link/Profile.h"
#include "logging/ui/RealTimeLogging.h"
#include "manual/ManualMode.h"
#include "plots/Satellites.h"
#include "plots/SkyPlot.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

namespace {

template <typename T>
T* Child(QWidget& parent, const char* name)
{
    T* child = parent.findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

void Click(QWidget& parent, const char* name)
{
    if (auto* button = Child<QAbstractButton>(parent, name)) {
        button->click();
    }
}

QTreeWidgetItem* Row(QTreeWidget* list, const QString& text, int column = 0)
{
    return list->findItems(text, Qt::MatchExactly, column).value(0);
}

QString Setting(const char* section, const char* key)
{
    const QString value = CProfile::Instance()->ReadString(QLatin1String(section), QLatin1String(key), QString());
    CProfile::Release();
    return value;
}

// The screen is the one the suite was started with, and a window as large as the screen does not fit on it with
// its frame: the fit checks of the journeys can fail.
TEST(Screen, IsTheOneAskedForAndAWindowOfItsSizeDoesNotFit)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    if (const QString asked = qEnvironmentVariable("NEMOLA_TEST_SCREEN"); !asked.isEmpty()) {
        EXPECT_EQ(QStringLiteral("%1x%2").arg(screen->geometry().width()).arg(screen->geometry().height()), asked);
    }
    QWidget window;
    window.resize(screen->availableGeometry().size());
    window.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(screen->availableGeometry().contains(window.frameGeometry()));
}

// Chooses a folder and two messages, records three epochs, stops and leaves.
class RealTimeLoggingJourney : public Journey, public ::testing::WithParamInterface<Journey::Link>
{
};

TEST_P(RealTimeLoggingJourney, RecordsTheChosenMessagesAndKeepsTheSelection)
{
    Launch({}, GetParam());
    const QString out = QDir(Folder()).filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(out));
    OnWindow<CRealTimeLogging>(Action(cmd::kRealTimeLogging), [&](CRealTimeLogging& d) {
        ASSERT_TRUE(d.startButton->isEnabled()) << d.Status().toStdString();
        QTreeWidget* list = d.messagePage->list;
        ASSERT_NE(Row(list, QStringLiteral("PG")), nullptr);
        d.pathPage->tree->SelectFolder(out);
        Click(d, "defMsgButton");  // "List Msg."
        Click(d, "allLockButton");
        Row(list, QStringLiteral("PG"))->setCheckState(0, Qt::Checked);
        Row(list, QStringLiteral("SI"))->setCheckState(0, Qt::Checked);
        Run(1000);  // the receiver's time, which names and splits the files
        d.startButton->click();
        ASSERT_TRUE(d.Running()) << d.Status().toStdString();
        Run(3000);
        // Three epoch ends written, whatever the link's thread still had on its way.
        const uint16_t epochEnd = uint16_t('|') << 8 | uint16_t('|');
        ASSERT_TRUE(PumpUntil([&] {
            const auto counts = d.Engine().Counts().byType;
            return counts.count(epochEnd) && counts.at(epochEnd) >= 3;
        }));
        d.startButton->click();
        EXPECT_EQ(d.Status(), QStringLiteral("Aborted by user!"));
        d.exitButton->click();
    });
    const QStringList files = QDir(out).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1) << files.join(QLatin1Char(',')).toStdString();
    const QByteArray bytes = ReadFile(QDir(out).filePath(files[0]));
    EXPECT_TRUE(files[0].endsWith(QLatin1String(".kvs")));
    EXPECT_GE(bytes.count("||001"), 3) << bytes.size();
    EXPECT_GE(bytes.count("PG"), 3);
    EXPECT_EQ(bytes.count("\nPV"), 0);  // not chosen
    EXPECT_EQ(Setting("RealTime", "MsgKVS"), QStringLiteral(",PG,SI,"));
    EXPECT_EQ(Setting("RealTime", "OutputPath"), QDir(out).absolutePath() + QLatin1Char('/'));
    ExpectLiveEpochs();
}

INSTANTIATE_TEST_SUITE_P(InProcessAndTcp, RealTimeLoggingJourney,
                         ::testing::Values(Journey::Link::InProcess, Journey::Link::Tcp),
                         [](const auto& info) { return info.param == Journey::Link::Tcp ? "Tcp" : "InProcess"; });

TEST_F(Journey, ReceiverConfigurationAppliesAValueAndSavesASetupThatReplays)
{
    Launch();
    const QString script = QDir(Folder()).filePath(QStringLiteral("setup.kvc"));
    OnWindow<CReceiverCfgDlg>(Action(cmd::kReceiverConfig), [&](CReceiverCfgDlg& sheet) {
        sheet.SelectPage(2);
        auto* mask = Child<QLineEdit>(*sheet.Page(2), "elevationMask");
        ASSERT_NE(mask, nullptr);
        mask->selectAll();
        QTest::keyClicks(mask, QStringLiteral("12"));
        Click(sheet, "applyButton");
        EXPECT_EQ(sheet.StatusText(), QStringLiteral("Applied"));
        EXPECT_EQ(m_sim->Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("12"));
        m_sim->Sim().SetParamValue(QStringLiteral("/par/pos/elm"), QStringLiteral("14"));
        Click(sheet, "refreshButton");
        EXPECT_EQ(mask->text(), QStringLiteral("14"));
        mask->selectAll();
        QTest::keyClicks(mask, QStringLiteral("12"));
        Click(sheet, "applyButton");
        m_prompts.ExpectSaveFile(QStringLiteral("Save setup to a script"), script);
        Click(sheet, "saveButton");
        m_prompts.Verify();
        EXPECT_EQ(sheet.StatusText(), CReceiverCfgDlg::SavedText(script));
        Click(sheet, "exitButton");
    });
    ASSERT_TRUE(QFileInfo::exists(script));
    ExpectLiveEpochs();

    // Replayed from the terminal on a receiver that was changed since, it puts the value back.
    m_sim->Sim().SetParamValue(QStringLiteral("/par/pos/elm"), QStringLiteral("5"));
    CProfile::Instance()->WriteString(QStringLiteral("ManualMode"), QStringLiteral("PathScript"), Folder());
    CProfile::Release();
    OnWindow<CManualMode>(Action(cmd::kManualMode), [&](CManualMode& terminal) {
        auto* line = Child<QComboBox>(terminal, "commandLine");
        line->setEditText(QStringLiteral("@setup.kvc"));
        Click(terminal, "sendButton");
        EXPECT_EQ(m_sim->Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("12"))
            << Child<QPlainTextEdit>(terminal, "output")->toPlainText().toStdString();
        Click(terminal, "exitButton");
    });
    ExpectLiveEpochs();
}

TEST_F(Journey, ManualModeSendsTwoTypedCommandsAsTypedAndShowsEachAnswerAfterItsCommand)
{
    Launch();
    OnWindow<CManualMode>(Action(cmd::kManualMode), [&](CManualMode& terminal) {
        auto* line = Child<QComboBox>(terminal, "commandLine");
        auto* output = Child<QPlainTextEdit>(terminal, "output");
        line->lineEdit()->setFocus();
        m_sim->Sim().ClearReceivedCommands();
        for (const QString& command : {QStringLiteral("print,/par/rcv/model"), QStringLiteral("print,/par/pos/elm")}) {
            QTest::keyClicks(line->lineEdit(), command);
            QTest::keyClick(line->lineEdit(), Qt::Key_Return);
        }
        EXPECT_EQ(Commands().join(QLatin1Char('|')).toStdString(), "print,/par/rcv/model|print,/par/pos/elm");
        const QStringList lines = output->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 4) << output->toPlainText().toStdString();
        EXPECT_EQ(lines[0].trimmed(), QStringLiteral(">print,/par/rcv/model"));
        EXPECT_TRUE(lines[1].startsWith(QLatin1String("RE"))) << lines[1].toStdString();
        EXPECT_TRUE(lines[1].contains(m_sim->Sim().Param(QStringLiteral("/par/rcv/model"))));
        EXPECT_EQ(lines[2].trimmed(), QStringLiteral(">print,/par/pos/elm"));
        EXPECT_TRUE(lines[3].startsWith(QLatin1String("RE"))) << lines[3].toStdString();
        Click(terminal, "exitButton");
    });
    ExpectLiveEpochs();
}

TEST_F(Journey, SatellitesDrawsTheTrackedSatellites)
{
    Launch();
    OnWindow<CSatellites>(Action(cmd::kSatellitesPlot), [&](CSatellites& window) {
        ASSERT_TRUE(window.Attached()) << window.StatusText().toStdString();
        Run(3000);
        int shown = -1;
        ASSERT_TRUE(PumpUntil([&] {
            const CSatTable table = window.Model().Table();
            for (int slot = 0; slot < satslot::kCount; ++slot) {
                if (table.entries[size_t(slot)].Shown()) {
                    shown = slot;
                    return true;
                }
            }
            return false;
        }));
        const SatEntry entry = window.Model().Table().entries[size_t(shown)];
        CSkyPlot* plot = window.Plot();
        const QPointF at = CSkyPlot::SkyTransform(plot->size()).map(CSkyPlot::SkyPoint(entry.elevation, entry.azimuth));
        EXPECT_GE(plot->HitTest(at.toPoint()), 0)
            << "no satellite drawn where " << satslot::Label(shown).toStdString() << " stands";
    });
    ExpectLiveEpochs();
}

// No digit of a field's text is scrolled out of its field: a coordinate's seconds are read whole.
void ExpectWholeFields(QWidget& dialog)
{
    for (QLineEdit* field : dialog.findChildren<QLineEdit*>()) {
        field->setCursorPosition(0);
        field->grab();
        const int start = field->inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
        field->end(false);
        field->grab();
        const int end = field->inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
        EXPECT_EQ(end - start, field->fontMetrics().horizontalAdvance(field->text()))
            << field->objectName().toStdString() << " cuts " << field->text().toStdString();
    }
}

TEST_F(Journey, SiteSendsItsEventsToTheReceiver)
{
    Launch();
    m_app->Settings().antennaHeight = QStringLiteral("-9999.9999");
    OnWindow<CSiteDlg>(Action(cmd::kSite), [&](CSiteDlg& dialog) {
        ExpectWholeFields(dialog);
        Child<QLineEdit>(dialog, "siteName")->setText(QStringLiteral("Hill 7"));
        Child<QLineEdit>(dialog, "antennaHeight")->setText(QStringLiteral("1.5"));
        Child<QCheckBox>(dialog, "slant")->setChecked(true);
        Click(dialog, "sendToReceiver");
        EXPECT_EQ(dialog.Message(), QStringLiteral("Sent"));
        Click(dialog, "ok");
    });
    const QStringList sent = Commands();
    EXPECT_TRUE(sent.contains(QStringLiteral("event,\"_SIT=Hill 7\""))) << sent.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(sent.contains(QStringLiteral("event,\"_ANH=1.5S\"")));
    EXPECT_EQ(m_app->Settings().siteName, QStringLiteral("Hill 7"));
    ExpectLiveEpochs();
}

TEST_F(Journey, TargetShowsInTheMainViewWithTheNextEpoch)
{
    Launch();
    m_app->Settings().targetLon = (179 + 59 / 60.0 + 14.0 / 3600) / 57.29577951308232;
    OnWindow<CTargetDlg>(Action(cmd::kSetTargetPosition), [&](CTargetDlg& dialog) {
        EXPECT_EQ(Child<QLineEdit>(dialog, "lonSeconds")->text(), QStringLiteral("14.00000"));
        Child<QLineEdit>(dialog, "latDegrees")->setText(QStringLiteral("48"));
        Child<QLineEdit>(dialog, "latMinutes")->setText(QStringLiteral("30"));
        Child<QLineEdit>(dialog, "latSeconds")->setText(QStringLiteral("15.5"));
        ExpectWholeFields(dialog);
        Click(dialog, "ok");
    });
    EXPECT_EQ(Setting("TargetPosition", "Lat").left(6), QStringLiteral("0.8465")) << "kept at OK, not only at Exit";
    Run(1000);
    EXPECT_TRUE(PumpUntil([&] { return View().Field(QStringLiteral("targetLat")).contains("48°30'15.5000\" N"); }))
        << View().Field(QStringLiteral("targetLat")).toStdString();
    ExpectLiveEpochs();
}

TEST_F(Journey, AboutShowsTheReceiversModel)
{
    Launch();
    QAction* about = Frame().Action(cmd::kAbout);
    OnWindow<CAboutDialog>(about, [&](CAboutDialog& dialog) {
        EXPECT_TRUE(dialog.Report().contains(m_sim->Sim().Param(QStringLiteral("/par/rcv/model"))));
        auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        EXPECT_TRUE(dialog.rect().contains(ok->mapTo(&dialog, ok->rect().bottomRight())));
        ok->click();
    });
    ExpectLiveEpochs();
}

TEST_F(Journey, InitializeFileSystemAsksThenEmptiesTheReceiversMemory)
{
    Launch([](CSimReceiver& sim) { sim.SetFsinitSteps({{100, 100}}); });
    ASSERT_FALSE(m_sim->Sim().FileNames().isEmpty());
    m_prompts
        .ExpectMessage(
            QStringLiteral("Initialize File System"),
            QStringLiteral(
                "This operation will erase all the files inside the receiver.\nIt may take up to 10 minutes, "
                "depending on the receiver memory size.\nDo you really wish to continue?"),
            PromptButtons::YesNo, PromptButton::Yes)
        .WithDefault(PromptButton::No);
    OnWindow<CFormat>(Action(cmd::kInitFileSystem), [&](CFormat& format) {
        Click(format, "startButton");
        EXPECT_TRUE(PumpUntil([&] { return format.ProgressValue() == 100; }));
        EXPECT_TRUE(format.Report().startsWith(QLatin1String("------- File System Information -------")));
        // A second erase is asked for again.
        m_prompts
            .ExpectMessage(QStringLiteral("Initialize File System"),
                           QStringLiteral("Initialize the receiver's file system again?\nAll the files inside the "
                                          "receiver will be erased."),
                           PromptButtons::YesNo, PromptButton::No)
            .WithDefault(PromptButton::No);
        m_sim->Sim().ClearReceivedCommands();
        Click(format, "startButton");
        EXPECT_TRUE(Commands().filter(QStringLiteral("init")).isEmpty());
    });
    m_prompts.Verify();
    EXPECT_TRUE(m_sim->Sim().FileNames().isEmpty());
    ExpectLiveEpochs();
}

TEST_F(Journey, SetSatelliteTimeSetsTheControllersClock)
{
    Launch();
    m_prompts.ExpectMessage(QStringLiteral("Set time"), QStringLiteral("Satellite time is set\n2024-06-01,12:00:00"),
                            PromptButtons::Ok, PromptButton::Ok);
    Action(cmd::kSetSatelliteTime)->trigger();
    m_prompts.Verify();
    ASSERT_EQ(m_time.clockSetter.Calls().size(), 1u);
    EXPECT_EQ(m_time.clockSetter.Calls().front().date(), QDate(2024, 6, 1));
    ExpectLiveEpochs();
}

TEST_F(Journey, ClearNvramAndResetRestartTheReceiverAndTheLiveView)
{
    Launch();
    for (const CNemolaApp::RestartSteps* steps : {&CNemolaApp::kClearNvram, &CNemolaApp::kResetReceiver}) {
        m_prompts.ExpectMessage(steps->title, steps->question, PromptButtons::OkCancel, PromptButton::Ok)
            .WithDefault(PromptButton::Cancel);
        m_prompts.ExpectMessage(steps->title, steps->successText, PromptButtons::Ok, PromptButton::Ok);
        Action(steps == &CNemolaApp::kClearNvram ? cmd::kClearNvram : cmd::kResetReceiver)->trigger();
        m_app->Connector().WaitFinished();
        m_prompts.Verify();
        ExpectLiveEpochs();
    }
    EXPECT_FALSE(m_sim->Sim().AlmanacValid());
}

TEST_F(Journey, StatusLegendOpensBesideTheLiveView)
{
    Launch();
    auto* action = Frame().findChild<QAction*>(QStringLiteral("actionLegend"));
    ASSERT_NE(action, nullptr);
    action->trigger();
    QWidget* legend = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            legend = w->objectName() == QLatin1String("statusLegend") && w->isVisible() ? w : legend;
        }
        return legend != nullptr;
    }));
    ExpectFitsScreen(*legend);
    EXPECT_FALSE(legend->isModal());
    const QString text = Child<QTextBrowser>(*legend, "legendText")->toPlainText();
    for (const char* meaning : {"RTK fixed", "RTK float", "DGPS", "Standalone", "No position", "almanac", "Doppler",
                                "slot", "frequency channel", "used in the position", "13 : 9 : 10 : 3"}) {
        EXPECT_TRUE(text.contains(QLatin1String(meaning))) << meaning;
    }
    ExpectLiveEpochs();
    legend->close();
}

TEST_F(Journey, DisconnectConnectAndExit)
{
    Launch();
    Action(cmd::kDisconnect)->trigger();
    EXPECT_FALSE(State().running);
    EXPECT_EQ(Frame().StatusText(0), QStringLiteral("Disconnected"));
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Nemola-M(idle)"));
    Action(cmd::kConnection)->trigger();
    m_app->Connector().WaitFinished();
    ExpectLiveEpochs();
    m_app->Settings().siteName = QStringLiteral("Kept");
    Action(cmd::kExit)->trigger();
    EXPECT_FALSE(Frame().isVisible());
    EXPECT_FALSE(State().running);
    EXPECT_EQ(Setting("Site", "SiteName"), QStringLiteral("Kept"));
}

// Through a receiver server: the connection dialog's server choice, then the server's user messages.
TEST_F(Journey, ConnectionThroughAServerAndItsMessages)
{
    CServerProcess server;
    ASSERT_TRUE(server.Start()) << server.Log().toStdString();
    ServerClient alice;
    ASSERT_TRUE(alice.Open(server.Address(), QStringLiteral("alice")));
    ASSERT_TRUE(alice.connection.SetMsg(QStringLiteral("bob"), QStringLiteral("stakeout"), QStringLiteral("point 12")));
    LaunchWithDialog([&](QDialog& dialog) {
        ASSERT_EQ(dialog.objectName(), QStringLiteral("connectionDialog"));
        Child<QAbstractButton>(dialog, "choiceServer")->click();
        Child<QLineEdit>(dialog, "serverAddress")->setText(server.Address());
        Child<QLineEdit>(dialog, "serverUser")->setText(QStringLiteral("bob"));
        Child<QLineEdit>(dialog, "serverPassword")->setText(QStringLiteral("bob-pw"));
        Child<QComboBox>(dialog, "serverReceiver")->setEditText(QStringLiteral("sim"));
        static_cast<QDialog&>(dialog).accept();
    });
    ExpectLiveEpochs();

    Action(cmd::kMessage)->trigger();
    CMessageDlg* window = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        window = Frame().findChild<CMessageDlg*>();
        return window && window->isVisible();
    }));
    QCoreApplication::processEvents();
    ExpectFitsScreen(*window);
    auto* list = Child<QTreeWidget>(*window, "messageList");
    ASSERT_EQ(list->topLevelItemCount(), 1) << window->Status().toStdString();
    list->setCurrentItem(list->topLevelItem(0));
    Click(*window, "get");
    EXPECT_EQ(Child<QLineEdit>(*window, "subject")->text(), QStringLiteral("stakeout"));
    EXPECT_EQ(Child<QPlainTextEdit>(*window, "messageText")->toPlainText(), QStringLiteral("point 12"));
    window->close();
    ExpectLiveEpochs();
}

}  // namespace
