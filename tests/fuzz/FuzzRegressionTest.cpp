// Every input in fuzz/corpus/<target> and fuzz/regressions/<target> runs through its target's oracles; a failing
// one aborts this test with the target's message.
#include "FuzzSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

class FuzzReplayTest : public ::testing::TestWithParam<const char*>
{
};

TEST_P(FuzzReplayTest, CorpusAndRegressionsPassTheOracles)
{
    const FuzzEntry entry = FindFuzzTarget(GetParam());
    ASSERT_NE(entry, nullptr);
    int replayed = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        const QDir dir(QStringLiteral(NEMOLA_FUZZ_DIR "/%1/%2").arg(QLatin1String(kind), QLatin1String(GetParam())));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
            const QByteArray input = file.readAll();
            std::fprintf(stderr, "replaying %s\n", qPrintable(file.fileName()));  // names the input of an abort
            entry(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0) << "no seed inputs";
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplayTest,
                         ::testing::Values("framer", "receiver", "decoders", "script", "toolkit", "kvsreader",
                                           "splitter", "blocks", "serverwire", "logengine", "setupcheck", "opening"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
