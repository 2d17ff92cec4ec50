#include "ScriptTestHost.h"

#include "manual/ScriptText.h"

#include <gtest/gtest.h>

#include <climits>

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

TEST(ScriptText, TokensVariableNamesReplyValuesAndFileForms)
{
    EXPECT_EQ(SplitTokens("setup.kvc  115200 on"), (QStringList{"setup.kvc", "115200", "on"}));
    EXPECT_EQ(SplitTokens(" \ta\tb  "), (QStringList{"a", "b"}));
    EXPECT_TRUE(SplitTokens("   ").isEmpty());
    EXPECT_EQ(SplitTokens("0 1 2 3 4 5 6 7 8 9 10 11"), QString("0 1 2 3 4 5 6 7 8 9").split(' '));
    // Only an invocation's name may be quoted, to hold blanks; an unclosed or empty quote is no quote.
    EXPECT_EQ(SplitInvocation(" \"my setup.kvc\"  1 \"a b\""), (QStringList{"my setup.kvc", "1", "\"a", "b\""}));
    EXPECT_EQ(SplitInvocation("\"open x"), (QStringList{"\"open", "x"}));
    EXPECT_EQ(SplitInvocation("\"\" x"), (QStringList{"\"\"", "x"}));
    EXPECT_EQ(SplitInvocation("\"n\" 1 2 3 4 5 6 7 8 9 10").size(), 10);

    EXPECT_EQ(VariableIndex("@1"), 1);
    EXPECT_EQ(VariableIndex("@9"), 9);
    for (const char* name : {"@0", "@10", "@a", "1", "", "#1"}) {
        EXPECT_EQ(VariableIndex(QString::fromLatin1(name)), 0) << name;
    }

    EXPECT_EQ(ReplyValue("RE018%Receiver model%Vireo-Z3\r\n"), "Vireo-Z3");
    EXPECT_EQ(ReplyValue("RE00A /dev/ser/a \r\n"), "/dev/ser/a");
    EXPECT_EQ(ReplyValue("RE005%a%50%x\r\n"), "x");
    EXPECT_EQ(ReplyValue("RE0"), QString());
    EXPECT_EQ(ReplyValue(QString()), QString());

    // An odd last byte is no character; a lone FF is 8-bit text, not a mark.
    EXPECT_EQ(DecodeScriptFile(QByteArray::fromHex("fffe610078")), "a\r\n");
    EXPECT_EQ(DecodeScriptFile(QByteArray::fromHex("ff61")), QString::fromUtf16(u"\u00ffa\r\n"));
    EXPECT_EQ(DecodeScriptFile(QByteArray()), "\r\n");
    EXPECT_EQ(UnifyLineEnds("a\r\nb\rc\n\r\r\n"), "a\nb\nc\n\n\n");
}

TEST(ScriptText, SubstitutionSkipsTheFirstQuotedStretchAndEndsOnLoops)
{
    const ScriptSlots vars = Vars({{0, "zero"}, {1, "one"}, {2, "two"}});
    EXPECT_EQ(Substituted("print,@1/@2@0", vars), "print,one/twozero");
    EXPECT_EQ(Substituted("@:label @x @@1 trailing @", vars), "@:label @x @one trailing @");
    // Only the first quoted stretch protects.
    EXPECT_EQ(Substituted("a \"@1\" @1 \"@2\"", vars), "a \"@1\" one \"two\"");
    // Lines that take their own values are left alone.
    for (const char* line : {"@set @1 @0", "@default @2 @0", "@send @1"}) {
        EXPECT_EQ(Substituted(QString::fromLatin1(line), vars), QString::fromLatin1(line));
    }
    // An inserted reference is expanded again.
    EXPECT_EQ(Substituted("x@3", Vars({{3, "@1!"}, {1, "one"}})), "xone!");
    // ... but not forever: a loop through two slots, or a value that grows at every round.
    Substituted("@1", Vars({{1, "@2"}, {2, "@1"}}), SubstituteResult::Endless);
    EXPECT_LE(Substituted("@1", Vars({{1, "ab@1"}}), SubstituteResult::TooLong).size(), kMaxScriptLine + 4);
}

TEST(ScriptText, ReadDecimalReadsLeadingNumberLikeScanfAndClamps)
{
    const auto read = [](const char* text) {
        int v = 0;
        EXPECT_TRUE(ReadDecimal(text, &v)) << text;
        return v;
    };
    EXPECT_EQ(read("250ms"), 250);
    EXPECT_EQ(read("-5"), -5);
    EXPECT_EQ(read("+7x"), 7);
    EXPECT_EQ(read("99999999999999999999"), INT_MAX);
    EXPECT_EQ(read("-99999999999999999999"), INT_MIN);
    int v = 7;
    EXPECT_FALSE(ReadDecimal("abc", &v));
    EXPECT_FALSE(ReadDecimal("-", &v));
    EXPECT_EQ(v, 7);
}

}  // namespace
