#include "manual/ManualSettings.h"
#include "manual/TerminalOutput.h"

#include "link/Profile.h"

#include <QBuffer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class TerminalOutputTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_log.open(QIODevice::WriteOnly);
        m_out.SetLog(&m_log);
    }
    QByteArray Logged() const { return m_log.data(); }

    QBuffer m_log;
    CTerminalOutput m_out;
};

TEST_F(TerminalOutputTest, PrintFiltersLogsAllButEchoLinesAndDropsOneLineAtTheLimit)
{
    auto change = m_out.AppendPrint(QString::fromUtf16(u"RE003\u00b0\x07x"));
    EXPECT_EQ(m_out.Text(), "RE003..x\r\n");
    EXPECT_EQ(change.appended, "RE003..x\n");
    EXPECT_EQ(change.droppedLines, 0);
    m_out.AppendPrint(">print,/par/rcv/model");
    m_out.AppendPrint("ends\r\n");
    // Logged before filtering, as Latin-1; echoed lines stay out of the log.
    EXPECT_EQ(Logged(), QByteArray("RE003\xB0\x07x\r\nends\r\n"));
    EXPECT_EQ(m_out.LineCount(), 4);

    // Over the limit, a text of several lines still costs only one old line.
    m_out.SetLineLimit(2);
    change = m_out.AppendPrint("a\r\nb\r\nc");
    EXPECT_EQ(change.droppedLines, 1);
    EXPECT_EQ(m_out.Text(), ">print,/par/rcv/model\r\nends\r\na\r\nb\r\nc\r\n");
    m_out.AppendPrint("d");
    EXPECT_EQ(m_out.Text(), "ends\r\na\r\nb\r\nc\r\nd\r\n");
}

TEST_F(TerminalOutputTest, RepliesSkipEmptyAnswerAndTrimToTheLimit)
{
    EXPECT_TRUE(m_out.AppendReply("RE000\r\n").IsEmpty());
    EXPECT_TRUE(m_out.AppendReply("RE000").IsEmpty());
    EXPECT_TRUE(Logged().isEmpty());
    EXPECT_TRUE(m_out.Text().isEmpty());

    m_out.SetLineLimit(4);
    m_out.AppendReply(QStringLiteral("RE002\x07!"));  // shown unfiltered
    EXPECT_EQ(m_out.Text(), QStringLiteral("RE002\x07!\r\n"));
    m_out.AppendReply("RE001a\r\nRE001b\r\nRE001c\r\n");
    EXPECT_EQ(m_out.LineCount(), 5);
    // n = 5 lines, limit 4: one line goes before the next reply is added.
    const auto change = m_out.AppendReply("ER003bad\r\n");
    EXPECT_EQ(change.droppedLines, 1);
    EXPECT_EQ(m_out.Text(), "RE001a\r\nRE001b\r\nRE001c\r\nER003bad\r\n");
    EXPECT_EQ(Logged(), QByteArray("RE002\x07!\r\nRE001a\r\nRE001b\r\nRE001c\r\nER003bad\r\n"));
}

TEST_F(TerminalOutputTest, RawOutputIsLoggedUnchangedAndShownFiltered)
{
    const QByteArray chunk("\nA\x07\xB0\nB\r\nC\x7F\r");
    const QString display = FilterRawOutput(chunk.constData(), int(chunk.size()));
    EXPECT_EQ(display, QStringLiteral("\r\nA..\r\nB\r\nC\x7F\r"));
    m_out.AppendRaw(chunk, display);
    EXPECT_EQ(Logged(), chunk);
    EXPECT_EQ(m_out.ScreenText(), QStringLiteral("\nA..\nB\nC\x7F"));

    EXPECT_TRUE(m_out.AppendRaw(QByteArray(), QString()).IsEmpty());
    EXPECT_EQ(FilterRawOutput(nullptr, 5), QString());
    EXPECT_EQ(FilterRawOutput("\r\n", -1), QString());

    m_out.SetLineLimit(2);
    const auto change = m_out.AppendRaw(QByteArray("x"), "x");
    EXPECT_EQ(change.droppedLines, 2);
    EXPECT_EQ(m_out.Text(), QStringLiteral("B\r\nC\x7F\rx"));
}

TEST(ManualSettingsTest, LimitsApplyOnReadAndWriteBack)
{
    QTemporaryDir dir;
    CProfile::SetFileName(dir.filePath("settings.ini"));
    CProfile* profile = CProfile::Instance();
    const QString section = "ManualMode";
    profile->WriteInt(section, "Replies", 1000);
    profile->WriteInt(section, "Commands", 3);
    const char* stored[] = {"  print,/par/rcv/model ", "   ", "dm", "beyond the limit"};
    for (int i = 0; i < 4; ++i) {
        profile->WriteString(section, QString("Command%1").arg(i), QString::fromLatin1(stored[i]));
    }

    ManualSettings s = ManualSettings::Read(*profile, "/opt/prog");
    EXPECT_EQ(s.replies, 550);
    EXPECT_EQ(s.commands, 3);
    EXPECT_EQ(s.pathScript, "/opt/prog");
    EXPECT_EQ(s.history, (QStringList{"print,/par/rcv/model", "dm"}));
    s.Write(*profile);
    EXPECT_EQ(profile->ReadInt(section, "Replies", 0), 550);
    EXPECT_EQ(profile->ReadString(section, "Command1", QString()), "dm");
    EXPECT_EQ(profile->ReadString(section, "Command3", QString()), "beyond the limit");

    profile->WriteInt(section, "Commands", -4);
    profile->WriteInt(section, "Replies", 0);
    s = ManualSettings::Read(*profile, QString());
    EXPECT_EQ(s.commands, 1);
    EXPECT_EQ(s.replies, 1);
    CProfile::Release();
}

}  // namespace
