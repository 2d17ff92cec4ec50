// The pairing rules on their own: frames and time in, replies and counts out.

#include "link/CommandText.h"
#include "link/Framer.h"
#include "link/ReplyPairing.h"

#include <gtest/gtest.h>

namespace {

using State = CReplyPairing::State;
using Take = CReplyPairing::Take;
using Ms = std::chrono::milliseconds;
constexpr auto P = Take::Paired;
constexpr auto U = Take::Unsolicited;
constexpr auto D = Take::Dropped;
const CReplyPairing::TimePoint t0{};

// A frame from a short form: "RE%a%text", "ER text"; "FULL" is a full RE frame for statement a.
QByteArray F(const char* text)
{
    const QByteArray t(text);
    if (t == "FULL") {
        return BuildFrame("RE", "%a%" + QByteArray(CFramer::kMaxBody - 3, 'x'));
    }
    return BuildFrame(t.constData(), t.mid(2));
}

}  // namespace

TEST(ReplyPairing, OnlyTheStatementsOwnTagStartsItsReply)
{
    struct Case
    {
        const char* name;
        std::vector<bool> andAnd;  // per statement a, b, c: followed by "&&" (else ";" or the end)
        std::vector<std::pair<const char*, Take>> frames;  // one per millisecond
        int checkAtMs;
        State state;
        std::vector<int> framesPerStatement;
    };
    const std::vector<Case> cases = {
        {"tagged answer", {false}, {{"RE%a%v", P}}, 1, State::Complete, {1}},
        {"untagged RE before the tagged ER", {false}, {{"RE", U}, {"ER%a%{4}", P}}, 2, State::Complete, {1}},
        {"stale and foreign tags",
         {false},
         {{"RE%nm9%old", D}, {"RE%Peer-1%x", D}, {"REuntagged", U}},
         3,
         State::Waiting,
         {0}},
        {"no echo of the tag", {false}, {{"REv", U}}, 200, State::TimedOut, {0}},
        {"a second reply to one statement",
         {false, false},
         {{"RE%a%1", P}, {"ER%a%2", D}},
         150,
         State::TimedOut,
         {1, 0}},
        {"an error skips its && group only",
         {true, false, false},
         {{"ER%a%e", P}, {"RE%c%", P}},
         2,
         State::Complete,
         {1, 0, 1}},
        {"a ; chain waits for its last statement",
         {false, false, false},
         {{"RE%a%", P}, {"ER%b%e", P}},
         50,
         State::Waiting,
         {1, 1, 0}},
        {"a continuation joins its full frame", {false}, {{"FULL", P}, {"RE more", P}}, 2, State::Complete, {2}},
        {"a full frame waits for more", {false}, {{"FULL", P}}, 50, State::Waiting, {1}},
        {"a full frame is whole after the silence", {false}, {{"FULL", P}}, 101, State::Complete, {1}},
        {"a continuation after another frame",
         {false, false},
         {{"FULL", P}, {"RE%b%", P}, {"RE x", D}},
         3,
         State::Complete,
         {1, 1}},
        {"a continuation of another kind", {false}, {{"FULL", P}, {"ER x", D}}, 2, State::Waiting, {1}},
        {"an orphan continuation", {false}, {{"RE tail", D}}, 1, State::Waiting, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CReplyPairing::Statement> statements;
        for (size_t i = 0; i < c.andAnd.size(); ++i) {
            statements.push_back({QByteArray(1, char('a' + i)), c.andAnd[i]});
        }
        CReplyPairing p;
        p.Start(statements, 100, t0);
        for (size_t i = 0; i < c.frames.size(); ++i) {
            EXPECT_EQ(p.OnReplyFrame(F(c.frames[i].first), t0 + Ms(i + 1)), c.frames[i].second) << c.frames[i].first;
        }
        EXPECT_EQ(p.Check(t0 + Ms(c.checkAtMs)), c.state);
        std::vector<int> counts;
        for (const auto& frames : p.Frames()) {
            counts.push_back(int(frames.size()));
        }
        EXPECT_EQ(counts, c.framesPerStatement);
    }
}

TEST(ReplyPairing, CountsWhatIsNoAnswer)
{
    // (The caps on time and size are tried against a real link in HostilePeerTest.)
    CReplyPairing p;
    // Nothing waits: an untagged reply is the receiver's own output, a tagged one a stale answer.
    EXPECT_EQ(p.OnReplyFrame(F("REhello"), t0), U);
    EXPECT_EQ(p.OnReplyFrame(F("RE%a%late"), t0), D);
    p.Start({{"a", false}}, 100, t0);
    EXPECT_EQ(p.OnReplyFrame(F("ER{1,,x}"), t0), U);
    EXPECT_EQ(p.UntaggedWhileWaiting(), 1);
    EXPECT_EQ(p.UnpairedFrames(), 3u);
    p.Stop();
    EXPECT_EQ(p.Check(t0), State::Idle);
}
