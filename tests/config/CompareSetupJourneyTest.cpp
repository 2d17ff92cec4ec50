// Journey: the program connected to the built-in receiver; Configuration -> "Compare setup with receiver...",
// a setup chosen, what differs applied and verified, and the live view running again afterwards.

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
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
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
    const QStringList page{"%/par/pos/elm%set,/par/pos/elm,12", "%/par/lpm%set,/par/lpm,off",
                           "%/par/ant/inp%set,/par/ant/inp,int", "@echo Done!"};
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

    m_prompts.ExpectOpenFile(QStringLiteral("Compare a setup with the receiver"), setup);
    bool seen = false;
    QStringList states;
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
        ASSERT_TRUE(PumpUntil([&] { return !dlg->IsBusy() && !dlg->Comparison().rows.empty(); }));
        QTreeWidget* table = dlg->Table();
        ASSERT_EQ(table->topLevelItemCount(), 5);  // the port branch's rate and flow control, then the page
        EXPECT_EQ(table->topLevelItem(2)->text(CSetupCompareDlg::kState), QStringLiteral("differs"));
        EXPECT_EQ(table->topLevelItem(2)->checkState(CSetupCompareDlg::kParameter), Qt::Checked);
        dlg->findChild<QPushButton*>(QStringLiteral("applyButton"))->click();
        ASSERT_TRUE(PumpUntil([&] { return !dlg->IsBusy(); }));
        for (int i = 0; i < table->topLevelItemCount(); ++i) {
            states << table->topLevelItem(i)->text(CSetupCompareDlg::kParameter) + QLatin1Char('=') +
                          table->topLevelItem(i)->text(CSetupCompareDlg::kState);
        }
        dlg->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
    });
    poll.start();
    action->trigger();
    EXPECT_TRUE(seen);
    m_prompts.Verify();
    EXPECT_EQ(states.mid(2),
              (QStringList{"/par/pos/elm=verified", "/par/lpm=same", "/par/ant/inp=the receiver kept auto"}));
    EXPECT_EQ(m_sim->Sim().Param(QStringLiteral("/par/pos/elm")), QStringLiteral("12"));

    // The frame is back and the live view restarted on the same receiver.
    EXPECT_TRUE(frame.isVisible());
    m_app->Connector().WaitFinished();
    EXPECT_TRUE(m_app->State().running);
}

}  // namespace
