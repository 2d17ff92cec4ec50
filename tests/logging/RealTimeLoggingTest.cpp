#include "files/DownloadPathDlg.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"
#include "logging/ui/RealTimeLogging.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

class RealTimeLoggingTest : public ::testing::Test
{
protected:
    RealTimeLoggingTest() : sim(CSimHarness::VirtualClock(), &CReceiverHolder::Shared()) {}
    ~RealTimeLoggingTest() override { CReceiverHolder::Shared().CloseReceiver(); }

    std::unique_ptr<CRealTimeLogging> Open()
    {
        RealTimeLoggingContext c;
        c.holder = &CReceiverHolder::Shared();
        c.receiverName = sim.Name();
        c.site = SiteInfo{QStringLiteral("Roof"), QStringLiteral("1.5"), false, false, QStringLiteral("UNKNOWN")};
        auto d = std::make_unique<CRealTimeLogging>(c);
        d->pathPage->tree->SelectFolder(dir.path());
        return d;
    }
    // Receiver time passes; the link's thread delivers what it brought.
    void Run(int64_t ms)
    {
        for (int64_t t = 0; t < ms; t += 1000) {
            sim.Advance(1000);
            QElapsedTimer wait;
            wait.start();
            while (wait.elapsed() < 5) {
                QApplication::processEvents();
            }
        }
    }
    QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
    QByteArray Read(const QString& name) const
    {
        QFile f(QDir(dir.path()).filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    CScriptedPrompts prompts;
    CSimHarness sim;
    QTemporaryDir dir;
};

QTreeWidgetItem* Row(QTreeWidget* list, const QString& id)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0) == id) {
            return list->topLevelItem(i);
        }
    }
    return nullptr;
}

}  // namespace

// The table from the receiver's lists; a list-mode recording in one-minute files with the site events sent;
// Stop closes whole files; the choices are saved on Exit.
TEST_F(RealTimeLoggingTest, ListModeRecordingAcrossFilesAndSettingsOnExit)
{
    auto d = Open();
    QTreeWidget* list = d->messagePage->list;
    ASSERT_NE(Row(list, "PG"), nullptr);
    EXPECT_NE(Row(list, "RT"), nullptr);                     // names, not "~~"
    EXPECT_EQ(Row(list, "PG")->checkState(0), Qt::Checked);  // "ALL" by default
    EXPECT_FALSE(list->isEnabled());                         // "Def.Msg." mode
    d->DefMsg();
    EXPECT_EQ(d->defButton->text(), "List Msg.");
    EXPECT_TRUE(list->isEnabled());
    d->messagePage->allLock->click();
    Row(list, "PG")->setCheckState(0, Qt::Checked);
    Row(list, "SI")->setCheckState(0, Qt::Checked);
    d->filePage->every->setText("1");
    d->filePage->unit->setCurrentIndex(0);

    Run(2000);
    sim.ClearSentStatements();
    d->StartStop();
    EXPECT_TRUE(d->Running()) << d->Status().toStdString();
    EXPECT_EQ(d->startButton->text(), "Stop");
    EXPECT_FALSE(d->exitButton->isEnabled());
    EXPECT_TRUE(sim.SentStatements().join('\n').contains("_SIT=Roof")) << sim.SentStatements().join('\n').toStdString();
    Run(130000);
    d->StartStop();
    EXPECT_EQ(d->Status(), "Aborted by user!");
    EXPECT_FALSE(d->Running());
    const QStringList files = Files();
    ASSERT_GE(files.size(), 2) << files.join(',').toStdString();
    EXPECT_EQ(files[0], "Site001.kvs");
    for (int i = 1; i < files.size(); ++i) {
        EXPECT_TRUE(Read(files[i]).startsWith("MF009KV01010BF\nRD006")) << files[i].toStdString();
    }
    EXPECT_TRUE(Read(files[0]).contains("PG01E"));
    d->Exit();
    CProfile* profile = CProfile::Instance();
    EXPECT_EQ(profile->ReadString("RealTime", "MsgKVS", "ALL"), ",PG,SI,");
    EXPECT_EQ(profile->ReadString("RealTime", "IntervalBetweenFiles", ""), "1");
    CProfile::Release();
}

// "Overwrite files" asks first; "No" leaves the dialog idle. A closed window stops a default-set recording.
TEST_F(RealTimeLoggingTest, OverwriteQuestionAndCloseStopsTheRecording)
{
    auto d = Open();
    d->filePage->overwrite->setChecked(true);
    prompts.ExpectMessage("Real-Time Logging",
                          "All the files with names like Site000.kvs, Site001.kvs etc. in the folder\n" +
                              d->OutputFolder() + "\nwill be overwritten without a warning. Continue?",
                          PromptButtons::YesNo, PromptButton::No);
    d->StartStop();
    EXPECT_EQ(d->Status(), "Aborted by user!");
    EXPECT_EQ(d->startButton->text(), "Start");
    EXPECT_TRUE(Files().isEmpty());

    d->filePage->overwrite->setChecked(false);
    Run(2000);
    d->StartStop();
    ASSERT_TRUE(d->Running()) << d->Status().toStdString();
    Run(5000);
    d->Tick();
    EXPECT_TRUE(d->Health().contains("B/s")) << d->Health().toStdString();
    d->close();
    EXPECT_FALSE(d->Running());
    ASSERT_EQ(Files(), QStringList{"Site001.kvs"});
    const QByteArray bytes = Read("Site001.kvs");
    EXPECT_TRUE(bytes.startsWith("MF009KV01010BF\n")) << bytes.left(16).toStdString();
    EXPECT_EQ(bytes.count("MF009"), 1);  // the default set's own MF of every epoch is dropped
    EXPECT_TRUE(bytes.endsWith("\n"));
}
