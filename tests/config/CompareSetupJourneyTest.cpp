// Journey: the program connected to the built-in receiver; Configuration -> "Compare setup with receiver...",
// a setup chosen, the ticked differences applied and verified, a report saved (and one that can't be), and the
// live view running again afterwards.

#include "app/AppTestSupport.h"
#include "app/CommandIds.h"
#include "app/Connector.h"
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "config/ScriptWriter.h"
#include "link/ConnectionInfo.h"
#include "manual/SetupCompareDlg.h"
#include "support/FakeTime.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

// The menu's own action, found as a user finds it: by its text in the Configuration menu.
QAction* MenuAction(CMainFrame& frame, const QString& popup, const QString& text)
{
    for (QMenu* menu : frame.menuBar()->findChildren<QMenu*>()) {
        if (menu->title() != popup) {
            continue;
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                return action;
            }
        }
    }
    return nullptr;
}

// "parameter|state|ticked" of each row shown.
QStringList Rows(const CSetupCompareDlg& dlg)
{
    QStringList rows;
    for (int i = 0; i < dlg.Table()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = dlg.Table()->topLevelItem(i);
        rows << item->text(CSetupCompareDlg::kParameter) + QLatin1Char('|') + item->text(CSetupCompareDlg::kState) +
                    QLatin1Char('|') +
                    (item->checkState(CSetupCompareDlg::kParameter) == Qt::Checked ? QStringLiteral("x") : QString());
    }
    return rows;
}

QString SaveError(const QString& path)
{
    QSaveFile file(path);
    file.open(QIODevice::WriteOnly);
    return file.errorString();
}

class CompareSetupJourney : public FreshSettings
{
protected:
    void TearDown() override
    {
        m_app.reset();
        m_sim.reset();
        FreshSettings::TearDown();
    }

    FakeTime m_time;
    CScriptedPrompts m_prompts;
    std::unique_ptr<CSimHarness> m_sim;
    std::unique_ptr<CNemolaApp> m_app;
};

TEST_F(CompareSetupJourney, ChosenSetupIsComparedAppliedAndVerifiedThenTheLiveViewRuns)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    m_sim = std::make_unique<CSimHarness>(CSimHarness::VirtualClock(), nullptr, false);
    m_sim->Sim().KeepParam(QStringLiteral("/par/ant/inp"));
    const QString setup = dir.filePath(QStringLiteral("base.kvc"));
    const QStringList page{"%/par/pos/elm%set,/par/pos/elm,12", "%/par/pos/pdop%set,/par/pos/pdop,6.57",
                           "%/par/lpm%set,/par/lpm,off", "%/par/ant/inp%set,/par/ant/inp,int",
                           // saved over another port: the messages of the port the program talks through now
                           "%dm,/dev/ser/a%dm,/dev/ser/a", "%em,/dev/ser/a,kvs/PG:{1.00}%em,/dev/ser/a,kvs/PG:{1.00}",
                           "@echo Done!"};
    QFile file(setup);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        (SetupScriptHeader("Version 0.1.0 ", "(test)", m_sim->Sim().Param(QStringLiteral("/par/rcv/model"))) + page)
            .join(QStringLiteral("\r\n"))
            .toLatin1());
    file.close();

    m_app = std::make_unique<CNemolaApp>(m_time.Services());
    ASSERT_TRUE(m_app->Start({QStringLiteral("nemola-m")}));
    m_app->SetReceiverChooser([this](CONNECTION_INFO& info) {
        info.receivers = {m_sim->Name()};
        return true;
    });
    QCoreApplication::processEvents();  // the "Connection" command posted at start-up
    m_app->Connector().WaitFinished();
    ASSERT_TRUE(m_app->State().running);

    CMainFrame& frame = *m_app->MainFrame();
    frame.UpdateCommandStates();
    QAction* action =
        MenuAction(frame, QStringLiteral("Configuration"), QStringLiteral("Compare setup with receiver..."));
    ASSERT_NE(action, nullptr);
    ASSERT_TRUE(action->isEnabled());
    EXPECT_EQ(action->objectName(), QStringLiteral("actionCompareSetup"));

    const QString report = dir.filePath(QStringLiteral("report.txt"));
    m_prompts.ExpectOpenFile(QStringLiteral("Compare a setup with the receiver"), setup);
    m_prompts.ExpectSaveFile(QStringLiteral("Save the comparison report"), report);
    m_prompts.ExpectSaveFile(QStringLiteral("Save the comparison report"), dir.filePath(QStringLiteral("gone/r.txt")));
    m_prompts.ExpectMessage(
        QStringLiteral("Save report"),
        QStringLiteral("Can't save the report: ") + SaveError(dir.filePath(QStringLiteral("gone/r.txt"))),
        PromptButtons::Ok, PromptButton::Ok);
    bool seen = false;
    QStringList compared;
    QStringList applied;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dlg = dynamic_cast<CSetupCompareDlg*>(QApplication::activeModalWidget());
        if (!dlg || seen) {
            return;
        }
        seen = true;
        poll.stop();
        EXPECT_FALSE(frame.isVisible());
        // Fits the handheld's screen: the columns elide and the rows scroll.
        EXPECT_LE(dlg->minimumSizeHint().width(), 480);
        EXPECT_LE(dlg->minimumSizeHint().height(), 640);
        ASSERT_TRUE(PumpUntil([&] { return !dlg->IsBusy() && !dlg->Comparison().rows.empty(); }));
        compared = Rows(*dlg);
        EXPECT_TRUE(dlg->StatusText().contains(QStringLiteral("7 parameters compared: 3 same, 4 differ.")))
            << dlg->StatusText().toStdString();
        // The user leaves the rounding parameter as it is; the tick survives the filter.
        dlg->Table()->topLevelItem(3)->setCheckState(CSetupCompareDlg::kParameter, Qt::Unchecked);
        dlg->findChild<QCheckBox*>(QStringLiteral("onlyDifferences"))->click();
        dlg->findChild<QPushButton*>(QStringLiteral("applyButton"))->click();
        ASSERT_TRUE(PumpUntil([&] { return !dlg->IsBusy(); }));
        applied = Rows(*dlg);
        dlg->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        dlg->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        dlg->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
    });
    poll.start();
    action->trigger();
    EXPECT_TRUE(seen);
    m_prompts.Verify();
    // The port branch's rate and flow control come first, then the page.
    // The program stopped its own port's output to talk to the receiver: that difference is not offered.
    const QString own = QStringLiteral(
        "/par/out/dev/ser/a|differs: this program's own port, whose output it stops "
        "while it works|");
    EXPECT_EQ(compared.mid(2), (QStringList{"/par/pos/elm|differs|x", "/par/pos/pdop|differs|x", "/par/lpm|same|",
                                            "/par/ant/inp|differs|x", own}));
    EXPECT_EQ(applied, (QStringList{"/par/pos/elm|verified|", "/par/pos/pdop|differs|",
                                    "/par/ant/inp|the receiver kept auto|", own}));
    EXPECT_EQ(m_sim->Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("12"));
    EXPECT_EQ(m_sim->Sim().Param(QStringLiteral("/par/pos/pdop")), QStringLiteral("30.0"));
    const QString text = QString::fromUtf8(ReadFile(report));
    EXPECT_TRUE(text.startsWith(QStringLiteral("Setup: ") + setup + QStringLiteral("\nReceiver: ") + m_sim->Name()));
    EXPECT_TRUE(text.contains(QStringLiteral("/par/ant/inp\tsetup int\treceiver auto\tthe receiver kept auto")))
        << text.toStdString();

    // The frame is back and the live view restarted on the same receiver.
    EXPECT_TRUE(frame.isVisible());
    m_app->Connector().WaitFinished();
    EXPECT_TRUE(m_app->State().running);
}

}  // namespace
