// Journeys through the receiver's file tools.
#include "journeys/JourneySupport.h"

#include "app/CommandIds.h"
#include "app/NemolaApp.h"
#include "files/CurrentLogFileDlg.h"
#include "files/DownloadFilesDlg.h"
#include "files/DownloadPathDlg.h"
#include "files/FileManager.h"

#include <QAbstractButton>
#include <QDir>
#include <QTreeWidget>

namespace {

void Click(QWidget& parent, const char* name)
{
    auto* button = parent.findChild<QAbstractButton*>(QLatin1String(name));
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

QTreeWidgetItem* Row(QTreeWidget* list, const QString& name)
{
    return list->findItems(name, Qt::MatchExactly, kColName).value(0);
}

// The tick boxes choose the files, over a highlighted row: the user ticks two files, highlights a third and
// presses Download; with nothing ticked the highlighted file goes next. Then one file is ticked and another
// highlighted before Delete.
TEST_F(Journey, FileManagerTicksChooseWhatIsDownloadedAndDeleted)
{
    Launch([](CSimReceiver& sim) {
        sim.AddFile(QStringLiteral("A1"), "first");
        sim.AddFile(QStringLiteral("B2"), "second");
    });
    const QString logged = QStringLiteral("LOG0001");  // one of the receiver's own, of some size
    ASSERT_TRUE(m_sim->Sim().FileNames().contains(logged));
    const QString target = QDir(Folder()).filePath(QStringLiteral("downloads"));
    ASSERT_TRUE(QDir().mkpath(target));
    auto local = [&](const char* name) { return QDir(target).filePath(QLatin1String(name) + QStringLiteral(".kvs")); };
    OnWindow<CFileManager>(Action(cmd::kFileManager), [&](CFileManager& fm) {
        fm.PathPage()->SelectFolder(target);
        fm.Tabs()->setCurrentIndex(CFileManager::kDownloadPage);
        QTreeWidget* list = fm.DownloadPage()->List();
        ASSERT_NE(Row(list, "B2"), nullptr);
        Row(list, "A1")->setCheckState(kColTarget, Qt::Checked);
        Row(list, "B2")->setCheckState(kColTarget, Qt::Checked);
        Row(list, logged)->setSelected(true);
        Click(*fm.DownloadPage(), "downloadButton");
        EXPECT_EQ(ReadFile(local("A1")), QByteArray("first"));
        EXPECT_EQ(ReadFile(local("B2")), QByteArray("second"));
        EXPECT_FALSE(QFile::exists(local("LOG0001")));
        ExpectFitsScreen(fm);  // the status line of a download does not widen it
        Click(*fm.DownloadPage(), "downloadButton");
        EXPECT_EQ(ReadFile(local("LOG0001")), m_sim->Sim().FileContent(logged));

        fm.Tabs()->setCurrentIndex(CFileManager::kLogPage);
        QTreeWidget* logList = fm.LogPage()->List();
        Row(logList, "B2")->setCheckState(kColTarget, Qt::Checked);
        Row(logList, "A1")->setSelected(true);
        m_prompts
            .ExpectMessage(QStringLiteral("Deleting files from receiver"),
                           QStringLiteral("Do you really want to delete 1 file from the receiver?"),
                           PromptButtons::YesNo, PromptButton::Yes)
            .WithDefault(PromptButton::No);
        Click(*fm.LogPage(), "deleteButton");
        m_prompts.Verify();
        const QStringList left = m_sim->Sim().FileNames();
        EXPECT_FALSE(left.contains(QStringLiteral("B2")));
        EXPECT_TRUE(left.contains(QStringLiteral("A1")));
        EXPECT_EQ(Row(logList, "B2"), nullptr);
    });
    ExpectLiveEpochs();
}

}  // namespace
