// Downloads from a receiver that misbehaves: it repeats a block for ever, stalls in the middle of a block whose
// rest holds bytes that look like an abort or a block start, or keeps sending after the host's abort.
#include "HostileReceiver.h"

#include "files/DownloadFilesDlg.h"
#include "files/DownloadPathDlg.h"
#include "files/FileManager.h"
#include "files/FileTransfer.h"
#include "link/BlockReceiver.h"
#include "link/Connection.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "support/ScriptedPrompts.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

// File bytes in which every block holds "#", STX and EOT bytes.
QByteArray Content(int size)
{
    QByteArray c(size, '\0');
    for (int i = 0; i < size; ++i) {
        c[i] = "ab#\x02z\x04"[i % 6];
    }
    return c;
}

// The hostile receiver registered under a key of its own, with a link time-out of 200 ms.
class HostileTest : public ::testing::Test
{
protected:
    void Start(CHostileReceiver::Fault fault, int faultBlock, int stallMs = 0)
    {
        device = std::make_shared<CHostileReceiver>(QStringLiteral("hostile"), content, fault, faultBlock, stallMs);
        RegisterInProcessDevice(QStringLiteral("hostile"), device);
        connection.Open(QString(), QString(), QString(), QStringLiteral("test"));
        connection.SetTimeout(10);
    }
    ~HostileTest() override
    {
        CReceiverHolder::Shared().CloseReceiver();
        receiver.Close();
        connection.Close();
        UnregisterInProcessDevice(QStringLiteral("hostile"));
    }
    QString Local() const { return dir.filePath(QStringLiteral("F.kvs")); }

    const QByteArray content = Content(20 * 512 + 17);
    std::shared_ptr<CHostileReceiver> device;
    CConnection connection;
    CReceiver receiver;
    QTemporaryDir dir;
};

}  // namespace

TEST_F(HostileTest, ABlockRepeatedForEverEndsAtTheRetryLimit)
{
    Start(CHostileReceiver::Fault::RepeatBlock, 7);
    ASSERT_TRUE(receiver.Open(&connection, device->Name()));
    CFileTransfer transfer(receiver);
    const auto r = transfer.Download(QStringLiteral("F"), Local(), 512);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.contains(QLatin1String("block 7 again"))) << r.text.toStdString();
    EXPECT_LE(device->BlocksSent(), 8 + CBlockReceiver::kMaxRetries + 1);
    EXPECT_EQ(QFileInfo(Local() + ".part").size(), 8 * 512);  // blocks 0 to 7, each once
    EXPECT_FALSE(QFile::exists(Local()));
}

TEST_F(HostileTest, AStallInABlockIsWaitedOutAndItsRestIsNotReadAsAnAbort)
{
    Start(CHostileReceiver::Fault::StallMidBlock, 4, 300);
    ASSERT_TRUE(receiver.Open(&connection, device->Name()));
    CFileTransfer transfer(receiver);
    const auto r = transfer.Download(QStringLiteral("F"), Local(), 512);
    ASSERT_TRUE(r.ok) << r.text.toStdString();
    EXPECT_EQ(ReadFile(Local()), content);
    EXPECT_EQ(device->Naks(), 2);  // the start, and once for the stalled block when its rest had come
}

// The file manager's Stop while the receiver keeps sending after the abort: the dialog is back within the link's
// drain limit, says why, and the link that cannot be used any more is closed.
TEST_F(HostileTest, StopWithAReceiverThatKeepsSendingComesBackAndClosesTheLink)
{
    Start(CHostileReceiver::Fault::ChattyAfterAbort, 5);
    CScriptedPrompts prompts;
    FileManagerContext c;
    c.connection = &connection;
    c.receiverName = device->Name();
    c.holder = &CReceiverHolder::Shared();
    CFileManager fm(c);
    fm.PathPage()->SelectFolder(dir.path());
    CDownloadFilesDlg* page = fm.DownloadPage();
    ASSERT_EQ(page->List()->topLevelItemCount(), 1);
    page->List()->topLevelItem(0)->setSelected(true);

    CReceiver& r = *CReceiverHolder::Shared().GetReceiver();
    QElapsedTimer sinceStop;
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (!sinceStop.isValid() && r.GetDownloadReceived() >= 2 * 512) {
            sinceStop.start();
            page->Download();  // Stop
        }
    });
    stopper.start(5);
    page->Download();
    ASSERT_TRUE(sinceStop.isValid());
    EXPECT_LT(sinceStop.elapsed(), CReceiver::kDrainLimitMs + 800);
    EXPECT_TRUE(device->Aborted());
    EXPECT_TRUE(fm.Status().contains(QLatin1String("kept sending"))) << fm.Status().toStdString();
    EXPECT_FALSE(r.IsOpen());
    EXPECT_FALSE(fm.Downloading());
    EXPECT_FALSE(QFile::exists(Local()));
    EXPECT_EQ(QFileInfo(Local() + ".part").size() % 512, 0);
}
