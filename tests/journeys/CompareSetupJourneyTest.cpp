// Configuration -> "Compare setup with receiver...": a setup chosen, the ticked differences applied and verified,
// a report saved (and one that can't be), and the live view running again afterwards.

#include "journeys/JourneySupport.h"

#include "app/CommandIds.h"
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "config/ScriptWriter.h"
#include "manual/SetupCompareDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSaveFile>
#include <QTreeWidget>

namespace {

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

TEST_F(Journey, CompareSetupAppliesTheTickedDifferencesAndVerifiesThem)
{
    const QDir dir(Folder());
    const QString setup = dir.filePath(QStringLiteral("base.kvc"));
    Launch([&](CSimReceiver& sim) {
        sim.KeepParam(QStringLiteral("/par/ant/inp"));
        const QStringList page{"%/par/pos/elm%set,/par/pos/elm,12", "%/par/pos/pdop%set,/par/pos/pdop,6.57",
                               "%/par/lpm%set,/par/lpm,off", "%/par/ant/inp%set,/par/ant/inp,int",
                               // saved over another port: the messages of the port the program talks through now
                               "%dm,/dev/ser/a%dm,/dev/ser/a",
                               "%em,/dev/ser/a,kvs/PG:{1.00}%em,/dev/ser/a,kvs/PG:{1.00}", "@echo Done!"};
        QFile file(setup);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write((SetupScriptHeader("Version 0.1.0 ", "(test)", sim.Param(QStringLiteral("/par/rcv/model"))) + page)
                       .join(QStringLiteral("\r\n"))
                       .toLatin1());
    });
    EXPECT_EQ(Action(cmd::kCompareSetup)->text(), QStringLiteral("Compare setup with receiver..."));

    const QString report = dir.filePath(QStringLiteral("report.txt"));
    const QString unwritable = dir.filePath(QStringLiteral("gone/r.txt"));
    m_prompts.ExpectOpenFile(QStringLiteral("Compare a setup with the receiver"), setup);
    m_prompts.ExpectSaveFile(QStringLiteral("Save the comparison report"), report);
    m_prompts.ExpectSaveFile(QStringLiteral("Save the comparison report"), unwritable);
    m_prompts.ExpectMessage(QStringLiteral("Save report"),
                            QStringLiteral("Can't save the report: ") + SaveError(unwritable), PromptButtons::Ok,
                            PromptButton::Ok);
    QStringList compared;
    QStringList applied;
    OnWindow<CSetupCompareDlg>(Action(cmd::kCompareSetup), [&](CSetupCompareDlg& dlg) {
        EXPECT_FALSE(Frame().isVisible());
        ASSERT_TRUE(PumpUntil([&] { return !dlg.IsBusy() && !dlg.Comparison().rows.empty(); }));
        compared = Rows(dlg);
        EXPECT_TRUE(dlg.StatusText().contains(QStringLiteral("7 parameters compared: 3 same, 4 differ.")))
            << dlg.StatusText().toStdString();
        // The user leaves the rounding parameter as it is; the tick survives the filter.
        dlg.Table()->topLevelItem(3)->setCheckState(CSetupCompareDlg::kParameter, Qt::Unchecked);
        dlg.findChild<QCheckBox*>(QStringLiteral("onlyDifferences"))->click();
        dlg.findChild<QPushButton*>(QStringLiteral("applyButton"))->click();
        ASSERT_TRUE(PumpUntil([&] { return !dlg.IsBusy(); }));
        applied = Rows(dlg);
        dlg.findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        dlg.findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        dlg.findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
    });
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
    ExpectLiveEpochs();
}

}  // namespace
