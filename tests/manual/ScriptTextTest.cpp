#include "manual/ScriptText.h"

#include <gtest/gtest.h>

namespace {

ScriptSlots Vars(std::initializer_list<std::pair<int, const char*>> values)
{
    ScriptSlots vars;
    for (const auto& [i, v] : values) {
        vars[size_t(i)] = QString::fromUtf8(v);
    }
    return vars;
}

QString Substituted(QString line, const ScriptSlots& vars, SubstituteResult expected = SubstituteResult::Ok)
{
    EXPECT_EQ(SubstituteVariables(line, vars), expected) << line.toStdString();
    return line;
}

}  // namespace

TEST(ScriptText, SplitTokensCutsAtSpaceRunsOnlyAndKeepsTen)
{
    EXPECT_EQ(SplitTokens(QStringLiteral("setup.kvc  115200 on")), (QStringList{"setup.kvc", "115200", "on"}));
    EXPECT_EQ(SplitTokens(QStringLiteral("  a\tb  ")), (QStringList{"a\tb"}));
    EXPECT_EQ(SplitTokens(QStringLiteral("single")), QStringList{"single"});
    EXPECT_TRUE(SplitTokens(QStringLiteral("   ")).isEmpty());
    const QStringList many = SplitTokens(QStringLiteral("0 1 2 3 4 5 6 7 8 9 10 11"));
    ASSERT_EQ(many.size(), 10);
    EXPECT_EQ(many.last(), QStringLiteral("9"));
}

TEST(ScriptText, VariableIndexAcceptsOnlyAtOneToNine)
{
    EXPECT_EQ(VariableIndex(QStringLiteral("@1")), 1);
    EXPECT_EQ(VariableIndex(QStringLiteral("@9")), 9);
    for (const char* name : {"@0", "@10", "@a", "1", "", "speed", "#1"}) {
        EXPECT_EQ(VariableIndex(QString::fromLatin1(name)), 0) << name;
    }
}

TEST(ScriptText, ReplyValueTakesTextAfterLastPercentOrHeader)
{
    EXPECT_EQ(ReplyValue(QStringLiteral("RE018%Receiver model%Vireo-Z3\r\n")), QStringLiteral("Vireo-Z3"));
    EXPECT_EQ(ReplyValue(QStringLiteral("RE00A /dev/ser/a \r\n")), QStringLiteral("/dev/ser/a"));
    EXPECT_EQ(ReplyValue(QStringLiteral("RE005%a%50%x\r\n")), QStringLiteral("x"));
    EXPECT_EQ(ReplyValue(QStringLiteral("RE0")), QString());
    EXPECT_EQ(ReplyValue(QString()), QString());
}

TEST(ScriptText, SubstitutionReplacesDigitsOutsideFirstQuotedStretch)
{
    const ScriptSlots vars = Vars({{0, "zero"}, {1, "one"}, {2, "two"}});
    EXPECT_EQ(Substituted(QStringLiteral("print,@1/@2@0"), vars), QStringLiteral("print,one/twozero"));
    EXPECT_EQ(Substituted(QStringLiteral("@goto Is@0"), vars), QStringLiteral("@goto Iszero"));
    EXPECT_EQ(Substituted(QStringLiteral("@:label @x @@1"), vars), QStringLiteral("@:label @x @one"));
    // Only the first quoted stretch protects.
    EXPECT_EQ(Substituted(QStringLiteral("a \"@1\" @1 \"@2\""), vars), QStringLiteral("a \"@1\" one \"two\""));
    // Lines that take their own values are left alone.
    EXPECT_EQ(Substituted(QStringLiteral("@set @1 @0"), vars), QStringLiteral("@set @1 @0"));
    EXPECT_EQ(Substituted(QStringLiteral("@default @2 @0"), vars), QStringLiteral("@default @2 @0"));
    // An inserted reference is expanded again.
    EXPECT_EQ(Substituted(QStringLiteral("x@3"), Vars({{3, "@1!"}, {1, "one"}})), QStringLiteral("xone!"));
    EXPECT_EQ(Substituted(QStringLiteral("trailing @"), vars), QStringLiteral("trailing @"));
}

TEST(ScriptText, SubstitutionStopsOnSelfReferenceAndGrowth)
{
    Substituted(QStringLiteral("@1"), Vars({{1, "@1"}}), SubstituteResult::Endless);
    Substituted(QStringLiteral("@1"), Vars({{1, "@2"}, {2, "@1"}}), SubstituteResult::Endless);
    const QString grown = Substituted(QStringLiteral("@1"), Vars({{1, "ab@1"}}), SubstituteResult::TooLong);
    EXPECT_LE(grown.size(), kMaxScriptLine + 4);

    const QString wide(300, QLatin1Char('w'));
    ScriptSlots vars;
    vars[1] = wide;
    QString line = QStringLiteral("@1@1");
    EXPECT_EQ(SubstituteVariables(line, vars), SubstituteResult::TooLong);
    line = QStringLiteral("@1");
    EXPECT_EQ(SubstituteVariables(line, vars), SubstituteResult::Ok);
    EXPECT_EQ(line, wide);
}

TEST(ScriptText, ScriptFileFormsDecodeAndRoundTrip)
{
    // An odd last byte is no character; a lone FF is 8-bit text, not a mark.
    EXPECT_EQ(DecodeScriptFile(QByteArray("\xFF\xFE"
                                          "a\0x",
                                          5)),
              QStringLiteral("a\r\n"));
    EXPECT_EQ(DecodeScriptFile(QByteArray("\xFF"
                                          "a")),
              QString::fromUtf16(u"\u00ffa\r\n"));
    EXPECT_EQ(DecodeScriptFile(QByteArray()), QStringLiteral("\r\n"));
    const QString text = QString::fromUtf16(u"@echo \u20ac\r\n");
    const QByteArray encoded = EncodeScriptFile(text);
    EXPECT_EQ(encoded.left(4), QByteArray("\xFF\xFE@\0", 4));
    EXPECT_EQ(DecodeScriptFile(encoded), text);
}

TEST(ScriptText, ReadDecimalReadsLeadingNumberLikeScanf)
{
    int v = 0;
    EXPECT_TRUE(ReadDecimal(QStringLiteral("300"), &v));
    EXPECT_EQ(v, 300);
    EXPECT_TRUE(ReadDecimal(QStringLiteral("250ms"), &v));
    EXPECT_EQ(v, 250);
    EXPECT_TRUE(ReadDecimal(QStringLiteral("-5"), &v));
    EXPECT_EQ(v, -5);
    EXPECT_TRUE(ReadDecimal(QStringLiteral("99999999999999999999"), &v));
    EXPECT_EQ(v, std::numeric_limits<int>::max());
    v = 7;
    EXPECT_FALSE(ReadDecimal(QStringLiteral("abc"), &v));
    EXPECT_FALSE(ReadDecimal(QStringLiteral("-"), &v));
    EXPECT_EQ(v, 7);
}
