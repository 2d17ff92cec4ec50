// The comparison dialog on a simulated receiver: its table, ticks, apply with read-back, report, stop and size.

#include "ScriptTestHost.h"

#include "config/ScriptWriter.h"
#include "link/Connection.h"
#include "manual/SetupCompareDlg.h"
#include "support/ScriptedPrompts.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

QString ReportError(const QString& path)
{
    QSaveFile file(path);
    file.open(QIODevice::WriteOnly);
    return file.errorString();
}

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
    // "parameter|state|ticked" of each row.
    static QStringList Rows(const CSetupCompareDlg& dlg)
    {
        QStringList rows;
        for (int i = 0; i < dlg.Table()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = dlg.Table()->topLevelItem(i);
            rows << item->text(CSetupCompareDlg::kParameter) + '|' + item->text(CSetupCompareDlg::kState) + '|' +
                        (item->checkState(CSetupCompareDlg::kParameter) == Qt::Checked ? "x" : "");
        }
        return rows;
    }

    QTemporaryDir m_dir;
    CSimHarness m_sim;
    CScriptedPrompts m_prompts;
    SetupCompareContext m_context;
};

TEST_F(SetupCompareDlgTest, ComparesAppliesTheTickedRowsAndSavesItsReport)
{
    CSetupCompareDlg dlg(m_context);
    ASSERT_TRUE(dlg.Open());
    // Fits the handheld's screen: the columns elide and the rows scroll.
    EXPECT_LE(dlg.minimumSizeHint().width(), 480);
    EXPECT_LE(dlg.minimumSizeHint().height(), 640);
    EXPECT_FALSE(Button(dlg, "applyButton")->isEnabled());

    m_prompts.ExpectOpenFile("Compare a setup with the receiver", m_dir.filePath("job.kvc"));
    Button(dlg, "chooseButton")->click();
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(Rows(dlg), (QStringList{"/par/cur/term/rate|same|", "/par/cur/term/rtscts|same|",
                                      "/par/pos/elm|differs|x", "/par/pos/pdop|differs|x", "/par/lpm|same|"}));
    EXPECT_TRUE(dlg.StatusText().contains("5 parameters compared: 3 same, 2 differ."))
        << dlg.StatusText().toStdString();
    EXPECT_EQ(dlg.Table()->topLevelItem(3)->text(CSetupCompareDlg::kReceiver), "30.0");

    // Only the rows left ticked are applied.
    dlg.Table()->topLevelItem(2)->setCheckState(CSetupCompareDlg::kParameter, Qt::Unchecked);
    dlg.findChild<QCheckBox*>("onlyDifferences")->click();
    EXPECT_EQ(Rows(dlg), (QStringList{"/par/pos/elm|differs|", "/par/pos/pdop|differs|x"}));
    ASSERT_TRUE(Button(dlg, "applyButton")->isEnabled());
    Button(dlg, "applyButton")->click();
    ASSERT_TRUE(WaitIdle(dlg));
    EXPECT_EQ(Rows(dlg), (QStringList{"/par/pos/elm|differs|", "/par/pos/pdop|the receiver kept 6.6|"}));
    EXPECT_EQ(m_sim.Sim().Param("/par/pos/elm"), "5");

    m_prompts.ExpectSaveFile("Save the comparison report", m_dir.filePath("report.txt"));
    Button(dlg, "saveButton")->click();
    QFile report(m_dir.filePath("report.txt"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(report.readAll());
    EXPECT_TRUE(text.startsWith("Setup: " + m_dir.filePath("job.kvc") + "\nReceiver: " + m_sim.Name()));
    EXPECT_TRUE(text.contains("/par/pos/pdop\tsetup 6.57\treceiver 6.6\tthe receiver kept 6.6")) << text.toStdString();

    // A report that can't be written says so.
    m_prompts.ExpectSaveFile("Save the comparison report", m_dir.filePath("gone/report.txt"));
    m_prompts.ExpectMessage("Save report", "Can't save the report: " + ReportError(m_dir.filePath("gone/report.txt")),
                            PromptButtons::Ok, PromptButton::Ok);
    Button(dlg, "saveButton")->click();
    m_prompts.Verify();
}

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
    EXPECT_TRUE(dlg.Table()->topLevelItemCount() == 0);

    // Closed while a compare waits: the dialog ends its thread before it lets the receiver go.
    dlg.Compare(m_dir.filePath("job.kvc"));
    ASSERT_TRUE(dlg.IsBusy());
    dlg.reject();
    EXPECT_FALSE(dlg.IsBusy());
}

}  // namespace
