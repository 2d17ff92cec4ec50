// The comparison dialog stops a compare that waits for the receiver at once, and closes only once its thread is
// done. (The journey from the menu drives its table, apply and report.)

#include "ScriptTestHost.h"

#include "config/ScriptWriter.h"
#include "link/Connection.h"
#include "manual/SetupCompareDlg.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class SetupCompareDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_sim.IsOpen());
        const QStringList page{"%/par/pos/elm%set,/par/pos/elm,12", "%/par/pos/pdop%set,/par/pos/pdop,6.57",
                               "%/par/lpm%set,/par/lpm,off", "@echo Done!"};
        WriteLatin1Script(
            m_dir.filePath("job.kvc"),
            (SetupScriptHeader("Version 0.1.0 ", "(test)", m_sim.Sim().Param("/par/rcv/model")) + page).join("\r\n"));
        m_context.connection = &m_sim.Connection();
        m_context.receiverName = m_sim.Name();
        m_context.holder = &m_sim.Holder();
        m_context.scriptFolder = m_dir.path();
    }
    static bool WaitIdle(CSetupCompareDlg& dlg)
    {
        return PumpUntil([&] { return !dlg.IsBusy(); });
    }
    static QPushButton* Button(CSetupCompareDlg& dlg, const char* name)
    {
        return dlg.findChild<QPushButton*>(QLatin1String(name));
    }
    QTemporaryDir m_dir;
    CSimHarness m_sim;
    SetupCompareContext m_context;
};

TEST_F(SetupCompareDlgTest, StopEndsAWaitingCompareAtOnceAndCloseWaitsForTheThread)
{
    CSetupCompareDlg dlg(m_context);
    ASSERT_TRUE(dlg.Open());
    m_sim.Sim().WithholdReplies(true);
    m_sim.Connection().SetTimeout(60000 / CConnection::kTimeoutUnitMs);
    m_sim.Sim().ClearReceivedCommands();
    dlg.Compare(m_dir.filePath("job.kvc"));
    ASSERT_TRUE(dlg.IsBusy());
    // The header's first read waits for its reply.
    QElapsedTimer sent;
    sent.start();
    while (m_sim.Sim().ReceivedCommands().isEmpty() && sent.elapsed() < 5000) {
        QThread::msleep(1);
    }
    ASSERT_FALSE(m_sim.Sim().ReceivedCommands().isEmpty());
    EXPECT_TRUE(Button(dlg, "stopButton")->isEnabled());
    EXPECT_FALSE(Button(dlg, "chooseButton")->isEnabled());
    QElapsedTimer timer;
    timer.start();
    Button(dlg, "stopButton")->click();
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(dlg.Comparison().end, CheckEnd::Stopped);
    EXPECT_TRUE(dlg.StatusText().startsWith("Aborted by user!")) << dlg.StatusText().toStdString();
    EXPECT_TRUE(dlg.Comparison().rows.empty());

    // Closed while a compare waits: the dialog ends its thread before it lets the receiver go.
    dlg.Compare(m_dir.filePath("job.kvc"));
    ASSERT_TRUE(dlg.IsBusy());
    dlg.reject();
    EXPECT_FALSE(dlg.IsBusy());
}

}  // namespace
