#include "files/Format.h"
#include "link/ReceiverHolder.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class FormatTest : public ::testing::Test
{
protected:
    FormatTest() : sim(CSimHarness::VirtualClock(), &CReceiverHolder::Shared())
    {
        sim.Sim().AddFile("LOG1", "data");
        context.connection = &sim.Connection();
        context.receiverName = sim.Name();
        context.holder = &CReceiverHolder::Shared();
        context.version = "1.2.3";
        context.buildDate = "Dec  6 2026";
        context.stepMs = 0;
    }
    ~FormatTest() override { CReceiverHolder::Shared().CloseReceiver(); }

    CScriptedPrompts prompts;
    CSimHarness sim;
    QTemporaryDir dir;
    FormatContext context;
};

}  // namespace

TEST_F(FormatTest, ProgressEndsAtOrPastTheTotalAndTheReportFollows)
{
    struct Case
    {
        std::vector<std::pair<int64_t, int64_t>> steps;
        const char* text;
    };
    for (const Case& c : {Case{{{120, 30}, {120, 150}}, "150 of 120"}, Case{{{0, 0}}, "0 of 0"}}) {
        sim.Sim().SetFsinitSteps(c.steps);
        CFormat dialog(context);
        dialog.Start();
        EXPECT_EQ(dialog.ProgressText(), QString::fromLatin1(c.text));
        EXPECT_EQ(dialog.ProgressValue(), 100);
        EXPECT_TRUE(sim.Sim().FileNames().isEmpty());
        EXPECT_TRUE(dialog.Report().startsWith("------- File System Information -------\r\nVersion:\t\t\t2.0\r\n"));
        EXPECT_TRUE(dialog.Report().endsWith("Writing fatal errors:\t\t0")) << dialog.Report().toStdString();
    }

    // Without read/write statistics the report ends with their header.
    sim.Sim().SetRwStatistics(false);
    CFormat dialog(context);
    dialog.Start();
    EXPECT_TRUE(dialog.Report().endsWith("----- Read/Write Information ----------\r\n"));

    const QString path = dir.filePath("report.txt");
    prompts.ExpectSaveFile("Save to file", path);
    ASSERT_TRUE(dialog.SaveToFile());
    const QList<QByteArray> lines = ReadFile(path).split('\n');
    EXPECT_EQ(lines.value(0), QByteArray("Created by Nemola-M Dec  6 2026 1.2.3\r"));
    EXPECT_EQ(lines.value(2), QByteArray("------- File System Information -------\r"));
}

TEST_F(FormatTest, CancelDuringTheWaitAndARefusedInit)
{
    sim.Sim().SetFsinitSteps({{120, 30}});  // never ends by itself
    context.stepMs = 50;
    CFormat dialog(context);
    QTimer::singleShot(120, &dialog, [&] { dialog.Cancel(); });
    dialog.Start();
    EXPECT_EQ(dialog.ProgressText(), QStringLiteral("30 of 120"));
    EXPECT_EQ(dialog.ProgressValue(), 25);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    sim.Sim().RefuseParam("/dev/blk/a");
    CFormat refused(context);
    refused.Start();
    EXPECT_TRUE(refused.WarningText().startsWith("ER")) << refused.WarningText().toStdString();
}

// A progress query that fails, replies that never read, a link lost in the wait: the run ends with the reason and
// without "Ready!" or a report to save. A receiver that does not open leaves Start disabled.
TEST_F(FormatTest, AFailedProgressEndsTheRunWithoutReady)
{
    struct Case
    {
        std::function<void()> fault;
        const char* warning;
        bool startEnabled;
    };
    const Case cases[] = {
        {[&] { sim.Sim().HideParam("/par/stat/fsinit"); }, "ER", true},
        {[&] {
             sim.Sim().SetFsinitSteps({{-1, 0}});
         },
         "The receiver's progress can't be read: RE", true},
        {[&] {
             sim.Sim().SetFsinitSteps({{120, 30}});
             QTimer::singleShot(30, [&] { sim.Sim().DropSessions("gone"); });
         },
         "", false},
    };
    context.stepMs = 20;
    for (const Case& c : cases) {
        ASSERT_TRUE(sim.Open());
        c.fault();
        CFormat dialog(context);
        dialog.Start();
        EXPECT_TRUE(dialog.WarningText().startsWith(QLatin1String(c.warning))) << dialog.WarningText().toStdString();
        EXPECT_FALSE(dialog.WarningText().isEmpty());
        EXPECT_TRUE(dialog.findChild<QLabel*>("waitText")->isHidden());
        EXPECT_TRUE(dialog.findChild<QPushButton*>("saveButton")->isHidden());
        EXPECT_EQ(dialog.findChild<QPushButton*>("startButton")->isEnabled(), c.startEnabled);
        EXPECT_TRUE(dialog.Report().isEmpty());
        sim.Sim().HideParam("/par/stat/fsinit", false);
    }
    context.receiverName = "SIM:nosuch";
    CFormat closed(context);
    EXPECT_FALSE(closed.findChild<QPushButton*>("startButton")->isEnabled());
}

// The dialog's warning confirms the first erase only (Enter there cancels): a second Start asks again, with No as
// the default. The report's chooser opens in the folder it was last saved to, never in the program's own.
TEST_F(FormatTest, ASecondRunIsConfirmedAgainAndTheReportFolderIsRemembered)
{
    sim.Sim().SetFsinitSteps({{0, 0}});
    CFormat dialog(context);
    EXPECT_TRUE(dialog.findChild<QPushButton*>("cancelButton")->isDefault());
    EXPECT_FALSE(dialog.findChild<QPushButton*>("startButton")->isDefault());
    dialog.Start();
    ASSERT_FALSE(dialog.Report().isEmpty());
    const QString question = QStringLiteral(
        "Initialize the receiver's file system again?\nAll the files inside the receiver will be erased.");
    prompts.ExpectMessage("Initialize File System", question, PromptButtons::YesNo, PromptButton::No)
        .WithDefault(PromptButton::No);
    sim.Sim().ClearReceivedCommands();
    dialog.Start();
    EXPECT_TRUE(sim.Sim().ReceivedCommands().filter("init").isEmpty());
    EXPECT_FALSE(dialog.Report().isEmpty());  // the first run's report stays

    prompts.ExpectMessage("Initialize File System", question, PromptButtons::YesNo, PromptButton::Yes);
    dialog.Start();
    EXPECT_EQ(sim.Sim().ReceivedCommands().filter("init,/dev/blk/a").size(), 1);

    prompts.ExpectSaveFile("Save to file", QString());
    dialog.SaveToFile();
    EXPECT_NE(prompts.Records().back().file.folder, QCoreApplication::applicationDirPath());
    prompts.ExpectSaveFile("Save to file", dir.filePath("r.txt"));
    ASSERT_TRUE(dialog.SaveToFile());
    prompts.ExpectSaveFile("Save to file", QString());
    dialog.SaveToFile();
    EXPECT_EQ(prompts.Records().back().file.folder, dir.path());
}
