#include "files/CurrentLogFileDlg.h"
#include "files/DownloadFilesDlg.h"
#include "files/DownloadPathDlg.h"
#include "files/FileCore.h"
#include "files/FileManager.h"
#include "link/Connection.h"
#include "link/FileListing.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"
#include "sim/SimFiles.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

TEST(FileCoreTest, ListingTimesSpeedProgressAndNames)
{
    // A receiver may put a blank first; the third record lacks its "}".
    int skipped = 0;
    auto r = ParseFileListing("RE030 {{a,1,0},{b,5000000000,2},{c,3,4,{d,1,1}}", &skipped);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].size, 5000000000LL);
    EXPECT_EQ(skipped, 1);
    // Unreadable records (a name too long, a missing comma, a bad number) are passed over, the rest is read.
    r = ParseFileListing("RE999{{a,1,0},{" + QString(300, 'x') + ",5,1},{b,2,3},{c3,4},{d,x,5},{e,1,2}}", &skipped);
    QStringList names;
    for (const ReceiverFileRecord& f : r) {
        names << f.name;
    }
    EXPECT_EQ(names, QStringList({"a", "b", "e"}));
    EXPECT_EQ(skipped, 3);

    // Controls (C0, C1), invisible format characters and what was not UTF-8 are shown escaped and refused as names.
    EXPECT_EQ(PrintableName(QString::fromUtf8("\xc2\x9b[2J\\a\xe2\x80\xae\x01\xf0\x9f\x98\x80")),
              QString::fromUtf8("\\x9B[2J\\\\a\\u202E\\x01\xf0\x9f\x98\x80"));
    for (const QString& bad : {QString::fromUtf8("\xc2\x9bx"),
                               QString::fromUtf8("a\xe2\x80\xae"
                                                 "b.kvs"),
                               QString::fromUtf8("a\xe2\x80\x8b"
                                                 "b"),
                               QString(QChar(0xFFFD)), QString(QChar(0xD800)) + "x"}) {
        EXPECT_TRUE(FileNameProblem(bad).contains(QLatin1String("control"))) << PrintableName(bad).toStdString();
    }
    EXPECT_TRUE(FileNameProblem(QString::fromUtf8("\xc3\x84rger \xf0\x9f\x98\x80")).isEmpty());
    qputenv("TZ", "America/New_York");  // file times are UTC wherever the controller is
    tzset();
    EXPECT_EQ(FileDateText(0) + ' ' + FileTimeText(0), QStringLiteral("01.01.1988 00:00:00"));
    EXPECT_EQ(FileDateText(1000000000), QStringLiteral("09.09.2019"));
    qunsetenv("TZ");
    tzset();
    EXPECT_EQ(FileDateText(-5), QStringLiteral("invalid"));
    EXPECT_EQ(FileTimeText(400000000000LL), QStringLiteral("400000000000"));

    EXPECT_EQ(SpeedText(1000000, 4000), QStringLiteral(" 250.00 KBps"));
    EXPECT_EQ(SpeedText(1000, 300), QStringLiteral("   1.00 KBps"));  // under a second counts as one
    EXPECT_EQ(FsinitPercent(120, 30), 25);
    EXPECT_EQ(FsinitPercent(0, 0), 100);
    EXPECT_TRUE(FsinitFinished(120, 150));
    EXPECT_EQ(DownloadPercent(3000000000LL, 6000000000LL), 50);

    QString why;
    EXPECT_EQ(TargetPath("/d", "name.kvs ", &why), QStringLiteral("/d/name.kvs"));
    for (const char* bad : {" ", "../x", "/abs", "a\tb", "PRN", "q\"q"}) {
        EXPECT_TRUE(TargetPath("/d/", bad, &why).isEmpty()) << bad;
    }
    // The partial file's note ("<name>.part.src") must fit in 255 bytes too.
    EXPECT_FALSE(TargetPath("/d", QString(246, 'n'), &why).isEmpty());
    EXPECT_TRUE(TargetPath("/d", QString(247, 'n'), &why).isEmpty());
    EXPECT_TRUE(why.contains(QLatin1String("too long")));
    EXPECT_TRUE(QFileInfo(DefaultDownloadFolder()).isWritable());
}

namespace {

class FileManagerTest : public ::testing::Test
{
protected:
    FileManagerTest() : sim(CSimHarness::VirtualClock(), &CReceiverHolder::Shared())
    {
        sim.Sim().AddFile("LOG1", SimLogContent(30000, 1), 100);
        sim.Sim().AddFile("LOG2", SimLogContent(70001, 2), 200);
        sim.Sim().AddFile("empty", QByteArray(), 300);
    }
    ~FileManagerTest() override { CReceiverHolder::Shared().CloseReceiver(); }

    std::unique_ptr<CFileManager> Open()
    {
        FileManagerContext c;
        c.connection = &sim.Connection();
        c.receiverName = sim.Name();
        c.holder = &CReceiverHolder::Shared();
        QElapsedTimer clock;
        clock.start();
        c.tick = [clock] { return clock.elapsed(); };
        auto fm = std::make_unique<CFileManager>(c);
        fm->PathPage()->SelectFolder(dir.path());
        return fm;
    }
    static void Select(QTreeWidget* list, const QStringList& names)
    {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list->topLevelItem(i);
            item->setSelected(names.contains(item->text(kColName)));
        }
    }
    static QStringList Names(QTreeWidget* list)
    {
        QStringList names;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            names << list->topLevelItem(i)->text(kColName);
        }
        return names;
    }
    QByteArray Local(const QString& name) const { return ReadFile(QDir(dir.path()).filePath(name)); }
    QStringList Removes() const { return sim.SentStatements().filter("remove"); }

    CScriptedPrompts prompts;
    CSimHarness sim;
    QTemporaryDir dir;
};

}  // namespace

TEST_F(FileManagerTest, DownloadRunSelectionZeroSizeSpeedAndTheTabKept)
{
    auto fm = Open();
    EXPECT_EQ(fm->Tabs()->currentIndex(), CFileManager::kLogPage);
    CDownloadFilesDlg* page = fm->DownloadPage();
    EXPECT_EQ(Names(page->List()), QStringList({"LOG2", "LOG1", "empty"}));  // by name, descending

    page->Download();
    EXPECT_EQ(fm->Status(), QStringLiteral("Select files to download"));

    // The empty file in the middle does not end the run.
    Select(page->List(), {"LOG1", "empty", "LOG2"});
    page->Download();
    EXPECT_EQ(Local("LOG1.kvs"), SimLogContent(30000, 1));
    EXPECT_EQ(Local("LOG2.kvs"), SimLogContent(70001, 2));
    EXPECT_EQ(Local("empty.kvs"), QByteArray());
    for (int i = 0; i < 3; ++i) {  // a downloaded row is no longer ticked for the next run
        EXPECT_EQ(page->List()->topLevelItem(i)->checkState(kColTarget), Qt::Unchecked);
    }
    EXPECT_TRUE(fm->Status().contains(QLatin1String("KBps 0 bytes"))) << fm->Status().toStdString();
    EXPECT_EQ(fm->PollInterval(), CFileManager::kPollAfterDownloadMs);

    fm->Tabs()->setCurrentIndex(CFileManager::kDownloadPage);
    fm->SetDownloading(true);
    fm->Tabs()->setCurrentIndex(CFileManager::kPathPage);
    EXPECT_EQ(fm->Tabs()->currentIndex(), CFileManager::kDownloadPage);
    fm->SetDownloading(false);
}

TEST_F(FileManagerTest, OverwriteQuestionEditedNamesAndHostileNames)
{
    sim.Sim().AddFile("..", "x");
    sim.Sim().AddFile(" ", "x");
    sim.Sim().AddFile("CON", "x");
    auto fm = Open();
    CDownloadFilesDlg* page = fm->DownloadPage();
    const QString mine = QDir(dir.path()).filePath("LOG1.kvs");
    ASSERT_TRUE(WriteFile(mine, "mine"));
    const QString question = QStringLiteral("The file\n%1\nalready exists. Do you wish to overwrite it?").arg(mine);
    prompts.ExpectMessage("Download files from receiver", question, PromptButtons::YesNoCancel, PromptButton::No)
        .WithDefault(PromptButton::Cancel);
    Select(page->List(), {"LOG1"});
    page->Download();
    EXPECT_EQ(Local("LOG1.kvs"), QByteArray("mine"));  // kept, never replaced
    // "Yes" replaces it only with a complete download: a failed one leaves it as it was.
    sim.Sim().InjectTransferFault(SimTransferFault::Abort, 3);
    prompts.ExpectMessage("Download files from receiver", question, PromptButtons::YesNoCancel, PromptButton::Yes);
    page->Download();
    EXPECT_TRUE(fm->Status().startsWith(QLatin1String("Aborted"))) << fm->Status().toStdString();
    EXPECT_EQ(Local("LOG1.kvs"), QByteArray("mine"));
    prompts.ExpectMessage("Download files from receiver", question, PromptButtons::YesNoCancel, PromptButton::Yes);
    page->Download();
    EXPECT_EQ(Local("LOG1.kvs"), SimLogContent(30000, 1));

    // An edited target name is taken trimmed; a hostile one is refused and put back.
    QTreeWidgetItem* item = page->List()->findItems("LOG2", Qt::MatchExactly, kColName).value(0);
    ASSERT_TRUE(item);
    item->setText(kColTarget, "renamed.kvs ");
    EXPECT_EQ(item->text(kColTarget), QStringLiteral("renamed.kvs"));
    item->setText(kColTarget, "../../etc/x");
    EXPECT_EQ(item->text(kColTarget), QStringLiteral("LOG2.kvs"));
    EXPECT_TRUE(fm->Status().contains(QLatin1String("path separator")));

    sim.ClearSentStatements();
    Select(page->List(), {"..", "", "CON"});
    page->Download();
    EXPECT_TRUE(sim.SentStatements().filter("get").isEmpty());
    EXPECT_TRUE(fm->Status().contains(QLatin1String("The file name is empty"))) << fm->Status().toStdString();
    Select(fm->LogPage()->List(), {"..", "", "CON"});
    prompts.ExpectMessage("Deleting files from receiver", "Do you really want to delete 3 files from the receiver?",
                          PromptButtons::YesNo, PromptButton::Yes);
    fm->LogPage()->Delete();
    EXPECT_TRUE(Removes().isEmpty()) << Removes().join('|').toStdString();
}

TEST_F(FileManagerTest, LinkCutMidDownloadResumesThroughTheDialog)
{
    sim.Sim().InjectTransferFault(SimTransferFault::DropLink, 20);
    auto fm = Open();
    Select(fm->DownloadPage()->List(), {"LOG2"});
    fm->DownloadPage()->Download();
    EXPECT_TRUE(fm->Status().startsWith(QLatin1String("Aborted: link lost"))) << fm->Status().toStdString();
    EXPECT_FALSE(QFile::exists(QDir(dir.path()).filePath("LOG2.kvs")));
    fm.reset();
    ASSERT_TRUE(sim.Open());
    fm = Open();
    Select(fm->DownloadPage()->List(), {"LOG2"});
    fm->DownloadPage()->Download();
    EXPECT_TRUE(fm->Status().contains(QLatin1String("resumed after 10240"))) << fm->Status().toStdString();
    EXPECT_EQ(Local("LOG2.kvs"), SimLogContent(70001, 2));
}

TEST_F(FileManagerTest, LogStartStopAndDelete)
{
    auto fm = Open();
    CCurrentLogFileDlg* page = fm->LogPage();
    auto* name = page->findChild<QLineEdit*>("logFileNameEdit");
    auto* interval = page->findChild<QLineEdit*>("recIntervalEdit");
    struct Case
    {
        const char* name;
        const char* interval;
        const char* status;
    };
    for (const Case& c : {Case{"  ", "1.00", "A file name is empty!"}, Case{"new", "abc", "Invalid recording interval"},
                          Case{"a\"b", "1.00", "The file name contains a double quote: \"a\"b\""}}) {
        name->setText(c.name);
        interval->setText(c.interval);
        page->StartOrStop();
        EXPECT_EQ(fm->Status(), QString::fromLatin1(c.status));
    }
    EXPECT_TRUE(sim.SentStatements().filter("create").isEmpty());

    // An existing name, overwritten: removed before it is created.
    page->ActivateRow(0);
    EXPECT_EQ(name->text(), QStringLiteral("LOG2"));
    interval->setText("1.00");
    prompts
        .ExpectMessage("Attention", "The file\nLOG2\nalready exists inside the receiver.\nDo you wish to overwrite it?",
                       PromptButtons::YesNo, PromptButton::Yes)
        .WithDefault(PromptButton::No);
    sim.ClearSentStatements();
    page->StartOrStop();
    const QStringList sent = sim.SentStatements();
    EXPECT_LT(sent.indexOf("remove,\"/log/LOG2\""), sent.indexOf("create,\"/log/LOG2\""))
        << sent.join('|').toStdString();
    EXPECT_TRUE(sent.contains("em,/cur/log,/msg/def:{1.00,0}"));
    EXPECT_TRUE(fm->Logging());
    EXPECT_EQ(sim.Sim().CurrentLogFile(), QStringLiteral("LOG2"));
    sim.Advance(3000);
    fm->Poll();
    EXPECT_TRUE(fm->Status().startsWith(QLatin1String("Total memory(MB): 128  Free memory(MB): ")));
    EXPECT_GT(sim.Sim().FileContent("LOG2").size(), SimLogHeader().size());  // it grows while logging

    // Two files, one the current log file, with No to its question: only the other goes.
    Select(page->List(), {"LOG2", "LOG1"});
    prompts
        .ExpectMessage("Deleting files from receiver", "Do you really want to delete 2 files from the receiver?",
                       PromptButtons::YesNo, PromptButton::Yes)
        .WithDefault(PromptButton::No);
    prompts
        .ExpectMessage("Deleting files from receiver",
                       "'LOG2' is the current log file.\nDo you really want to delete it?", PromptButtons::YesNo,
                       PromptButton::No)
        .WithDefault(PromptButton::No);
    sim.ClearSentStatements();
    page->Delete();
    EXPECT_EQ(Removes(), QStringList({"remove,\"/log/LOG1\""}));

    page->StartOrStop();
    EXPECT_TRUE(sim.SentStatements().contains("dm,/cur/log"));
    EXPECT_FALSE(fm->Logging());

    // Every file selected: listed again, then one "remove,/log/".
    Select(page->List(), {"LOG2", "empty"});
    prompts.ExpectMessage("Deleting files from receiver", "Do you really want to delete 2 files from the receiver?",
                          PromptButtons::YesNo, PromptButton::Yes);
    sim.ClearSentStatements();
    page->Delete();
    EXPECT_EQ(Removes(), QStringList({"remove,/log/"}));
    EXPECT_EQ(sim.SentStatements().filter("print,/log/&").size(), 2);
    EXPECT_TRUE(sim.Sim().FileNames().isEmpty());

    page->Delete();
    EXPECT_EQ(fm->Status(), QStringLiteral("Select files to delete"));
    prompts.Verify();
}

TEST_F(FileManagerTest, SortingPollingMaskAndClosing)
{
    sim.Sim().AddFile("big", QByteArray(100000, 'b'), 50);
    sim.Sim().AddFile("Site_2024-06-01_rover_long", QByteArray(10, 'b'), 60);
    sim.Sim().SetParamValue("/par/dev/blk/a/size", "3221225472");
    sim.Sim().SetListingFault(SimListingFault::None, -3);  // a count below the listing hides nothing
    auto fm = Open();
    CDownloadFilesDlg* page = fm->DownloadPage();
    EXPECT_EQ(page->List()->topLevelItemCount(), 5);
    // Every title and text fits its column; the size has room for a file that grows to ten digits.
    for (QTreeWidget* list : {page->List(), fm->LogPage()->List()}) {
        const QFontMetrics metrics = list->fontMetrics();
        for (int c = 0; c < 5; ++c) {
            int widest = metrics.horizontalAdvance(list->headerItem()->text(c));
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                widest = std::max(widest, metrics.horizontalAdvance(list->topLevelItem(i)->text(c)));
            }
            EXPECT_GT(list->columnWidth(c), widest) << c;
        }
        EXPECT_GT(list->columnWidth(kColSize), metrics.horizontalAdvance("4294967296"));
    }
    sim.Sim().DeleteFile("Site_2024-06-01_rover_long");
    fm->ForgetListing();
    fm->List(CFileManager::kDownloadPage);
    struct Case
    {
        int column;
        QStringList order;
    };
    // Each click turns the direction round: sizes as numbers, dates as dates.
    for (const Case& c :
         {Case{kColSize, {"empty", "LOG1", "LOG2", "big"}}, Case{kColSize, {"big", "LOG2", "LOG1", "empty"}},
          Case{kColDate, {"big", "LOG1", "LOG2", "empty"}}}) {
        page->SortBy(c.column);
        EXPECT_EQ(Names(page->List()), c.order) << c.column;
    }

    fm->Poll();
    EXPECT_EQ(fm->Status(), QStringLiteral("Total memory(MB): 3072  Free memory(MB): 3071"));

    auto* mask = fm->LogPage()->findChild<QLineEdit*>("elvMaskEdit");
    EXPECT_EQ(mask->text(), QStringLiteral("5"));
    mask->setText("5\r\ndm");
    fm->LogPage()->findChild<QLineEdit*>("logFileNameEdit")->setText("x");
    sim.ClearSentStatements();
    fm->LogPage()->StartOrStop();
    EXPECT_EQ(fm->Status(), QStringLiteral("Invalid elevation mask"));
    EXPECT_TRUE(sim.SentStatements().isEmpty());

    // Closing stores the folder with its separator, but not while a download runs.
    auto stored = [] {
        CProfile* profile = CProfile::Instance();
        const QString folder = profile->ReadString("LoadFile", "OutputPath", QString());
        CProfile::Release();
        return folder;
    };
    const QString before = stored();
    fm->SetDownloading(true);
    fm->Close();
    EXPECT_EQ(stored(), before);
    EXPECT_GT(fm->PollInterval(), 0);
    fm->SetDownloading(false);
    fm->Close();
    EXPECT_EQ(stored(), dir.path() + '/');
    EXPECT_EQ(fm->PollInterval(), 0);
}
