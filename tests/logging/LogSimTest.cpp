#include "link/Receiver.h"
#include "logging/LogEngine.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A list-mode recording from the simulator: the header frames it sends when asked start the first file, the
// later files start with the engine's own, and every file holds whole epochs.
TEST(LogSimTest, RecordsTheSimulatorsStreamIntoWholeEpochFiles)
{
    CSimHarness sim;
    ASSERT_TRUE(sim.IsOpen());
    QTemporaryDir dir;
    CLogEngine engine;
    QStringList done;
    engine.SetFileDoneCallback([&done](const QString& p) { done << p; });
    CReceiver& rcv = sim.Receiver();
    auto feed = [&engine](CReceiver* r) { engine.Feed(r->getMsgBuf(0), r->getMsgBufSize(), r->getMsgChannel()); };
    ASSERT_TRUE(rcv.Attach(0, feed, QStringLiteral("RT:1,RD:1"), nullptr));
    sim.Advance(3000);
    LogOptions o;
    o.folder = dir.path();
    o.every = 1;  // a file a minute
    ASSERT_TRUE(engine.Start(o));
    ASSERT_TRUE(rcv.Detach(0));
    ASSERT_TRUE(rcv.Attach(0, feed, QStringLiteral("RD:1,RT:1,KV,MF,PG:1,EE:1"), nullptr));
    sim.Advance(150000);
    ASSERT_TRUE(rcv.Detach(0));
    engine.Stop();
    ASSERT_GE(done.size(), 3);
    for (int i = 0; i < done.size(); ++i) {
        QFile f(done[i]);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (i == 0) {
            EXPECT_TRUE(bytes.startsWith("KV055RLOGF")) << bytes.left(20).toStdString();
        } else {
            EXPECT_TRUE(bytes.startsWith("MF009KV01010BF\nRD006")) << bytes.left(20).toStdString();
        }
        EXPECT_EQ(bytes.count("MF009"), 1);
        if (i + 1 < done.size()) {
            EXPECT_EQ(bytes.mid(bytes.size() - 7, 5), QByteArray("||001")) << i;  // the epoch end, its checksum, LF
        }
    }
    EXPECT_EQ(engine.GetState(), CLogEngine::State::Idle);
}

}  // namespace
