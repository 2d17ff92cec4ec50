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

TEST_F(TerminalOutputTest, PrintFiltersAndLogsAllButEchoLines)
{
    auto change = m_out.AppendPrint(QString::fromUtf16(u"RE003\u00b0\x07x"));
    EXPECT_EQ(m_out.Text(), QStringLiteral("RE003..x\r\n"));
    EXPECT_EQ(change.appended, QStringLiteral("RE003..x\n"));
    EXPECT_EQ(change.droppedLines, 0);
    m_out.AppendPrint(QStringLiteral(">print,/par/rcv/model"));
    m_out.AppendPrint(QStringLiteral("ends\r\n"));
    // Logged before filtering, as Latin-1; echoed lines stay out of the log.
    EXPECT_EQ(Logged(), QByteArray("RE003\xB0\x07x\r\nends\r\n"));
    EXPECT_EQ(m_out.LineCount(), 4);
}

TEST_F(TerminalOutputTest, PrintDropsOneLineAtTheLimit)
{
    m_out.SetLineLimit(3);
    for (int i = 0; i < 6; ++i) {
        m_out.AppendPrint(QStringLiteral("line %1").arg(i));
    }
    EXPECT_EQ(m_out.Text(), QStringLiteral("line 4\r\nline 5\r\n"));
    // A multi-line text still costs only one old line.
    const auto change = m_out.AppendPrint(QStringLiteral("a\r\nb\r\nc"));
    EXPECT_EQ(change.droppedLines, 1);
    EXPECT_EQ(m_out.Text(), QStringLiteral("line 5\r\na\r\nb\r\nc\r\n"));
}

TEST_F(TerminalOutputTest, RepliesSkipEmptyAnswerAndTrimToTheLimit)
{
    EXPECT_TRUE(m_out.AppendReply(QStringLiteral("RE000\r\n")).IsEmpty());
    EXPECT_TRUE(m_out.AppendReply(QStringLiteral("RE000")).IsEmpty());
    EXPECT_TRUE(Logged().isEmpty());
    EXPECT_TRUE(m_out.Text().isEmpty());

    m_out.SetLineLimit(4);
    m_out.AppendReply(QStringLiteral("RE002\x07!"));  // shown unfiltered
    EXPECT_EQ(m_out.Text(), QStringLiteral("RE002\x07!\r\n"));
    m_out.AppendReply(QStringLiteral("RE001a\r\nRE001b\r\nRE001c\r\n"));
    EXPECT_EQ(m_out.LineCount(), 5);
    // n = 5 lines, limit 4: one line goes before the next reply is added.
    const auto change = m_out.AppendReply(QStringLiteral("ER003bad\r\n"));
    EXPECT_EQ(change.droppedLines, 1);
    EXPECT_EQ(m_out.Text(), QStringLiteral("RE001a\r\nRE001b\r\nRE001c\r\nER003bad\r\n"));
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
    const auto change = m_out.AppendRaw(QByteArray("x"), QStringLiteral("x"));
    EXPECT_EQ(change.droppedLines, 2);
    EXPECT_EQ(m_out.Text(), QStringLiteral("B\r\nC\x7F\rx"));
}

TEST(ManualSettingsTest, LimitsApplyOnReadAndWriteBack)
{
    QTemporaryDir dir;
    CProfile::SetFileName(dir.filePath(QStringLiteral("settings.ini")));
    CProfile* profile = CProfile::Instance();
    const QString section = QStringLiteral("ManualMode");
    profile->WriteInt(section, QStringLiteral("Replies"), 1000);
    profile->WriteInt(section, QStringLiteral("Commands"), 3);
    profile->WriteString(section, QStringLiteral("Command0"), QStringLiteral("  print,/par/rcv/model "));
    profile->WriteString(section, QStringLiteral("Command1"), QStringLiteral("   "));
    profile->WriteString(section, QStringLiteral("Command2"), QStringLiteral("dm"));
    profile->WriteString(section, QStringLiteral("Command3"), QStringLiteral("beyond the limit"));

    ManualSettings s = ManualSettings::Read(*profile, QStringLiteral("/opt/prog"));
    EXPECT_EQ(s.replies, 550);
    EXPECT_EQ(s.commands, 3);
    EXPECT_EQ(s.pathScript, QStringLiteral("/opt/prog"));
    EXPECT_EQ(s.history, (QStringList{"print,/par/rcv/model", "dm"}));
    s.Write(*profile);
    EXPECT_EQ(profile->ReadInt(section, QStringLiteral("Replies"), 0), 550);
    EXPECT_EQ(profile->ReadString(section, QStringLiteral("Command1"), QString()), QStringLiteral("dm"));
    EXPECT_EQ(profile->ReadString(section, QStringLiteral("Command3"), QString()), QStringLiteral("beyond the limit"));

    profile->WriteInt(section, QStringLiteral("Commands"), -4);
    profile->WriteInt(section, QStringLiteral("Replies"), 0);
    s = ManualSettings::Read(*profile, QString());
    EXPECT_EQ(s.commands, 1);
    EXPECT_EQ(s.replies, 1);
    CProfile::Release();
}

TEST(CommandHistoryTest, SentCommandsMoveToTopAndOldestGoAtTheLimit)
{
    CCommandHistory history(3);
    for (const char* c : {"a", "b", "c"}) {
        history.Add(QString::fromLatin1(c));
    }
    history.Add(QStringLiteral("a"));
    EXPECT_EQ(history.Entries(), (QStringList{"a", "c", "b"}));
    history.Add(QStringLiteral("d"));
    EXPECT_EQ(history.Entries(), (QStringList{"d", "a", "c"}));
    // A loaded script goes on top without the limit, and still only once.
    history.PutOnTop(QStringLiteral("@setup.kvc"));
    history.PutOnTop(QStringLiteral("@setup.kvc"));
    EXPECT_EQ(history.Entries(), (QStringList{"@setup.kvc", "d", "a", "c"}));
    history.Add(QStringLiteral("@setup.kvc"));
    EXPECT_EQ(history.Entries(), (QStringList{"@setup.kvc", "d", "a"}));
}

}  // namespace
