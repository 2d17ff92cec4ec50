// The pairing rules on their own: frames and time in, replies and counts out.

#include "link/CommandText.h"
#include "link/Framer.h"
#include "link/ReplyPairing.h"

#include <gtest/gtest.h>

namespace {

using State = CReplyPairing::State;
using Take = CReplyPairing::Take;
using Ms = std::chrono::milliseconds;

const CReplyPairing::TimePoint t0{};

QByteArray Frame(const char* id, const QByteArray& body)
{
    return BuildFrame(id, body);
}

QByteArray Full(const QByteArray& tag)
{
    const QByteArray head = tag.isEmpty() ? QByteArray() : '%' + tag + '%';
    return Frame("RE", head + QByteArray(CFramer::kMaxBody - int(head.size()), 'x'));
}

struct Step
{
    int atMs;
    QByteArray frame;
    Take take;
};

struct Case
{
    const char* name;
    const char* chain;  // separators of the statements "a", "b", "c": "&&", ";" or "" per gap
    std::vector<Step> steps;
    int checkAtMs;
    State state;
    std::vector<int> framesPerStatement;
};

}  // namespace

TEST(ReplyPairing, OnlyTheStatementsOwnTagStartsItsReply)
{
    const std::vector<Case> cases = {
        {"tagged answer", "", {{10, Frame("RE", "%a%v"), Take::Paired}}, 10, State::Complete, {1}},
        {"untagged RE before the tagged ER is no answer",
         "",
         {{5, Frame("RE", ""), Take::Unsolicited}, {10, Frame("ER", "%a%{4,value out of range}"), Take::Paired}},
         10,
         State::Complete,
         {1}},
        {"stale and foreign tags are dropped",
         "",
         {{1, Frame("RE", "%nm9%old"), Take::Dropped},
          {2, Frame("RE", "%Peer-1%x"), Take::Dropped},
          {3, Frame("RE", "untagged"), Take::Unsolicited}},
         3,
         State::Waiting,
         {0}},
        {"a receiver that does not echo tags never answers", "", {{10, Frame("RE", "v"), Take::Unsolicited}}, 200,
         State::TimedOut, {0}},
        {"a second tagged frame for the same statement is dropped",
         ";",
         {{1, Frame("RE", "%a%1"), Take::Paired}, {2, Frame("ER", "%a%2"), Take::Dropped}},
         150,
         State::TimedOut,
         {1, 0}},
        {"an error skips the rest of its && group only",
         "&&;",
         {{1, Frame("ER", "%a%e"), Take::Paired}, {2, Frame("RE", "%c%"), Take::Paired}},
         2,
         State::Complete,
         {1, 0, 1}},
        {"a ; chain waits for its last statement", ";;",
         {{1, Frame("RE", "%a%"), Take::Paired}, {2, Frame("ER", "%b%e"), Take::Paired}}, 50, State::Waiting,
         {1, 1, 0}},
        {"a ; chain answered over two writes", ";",
         {{1, Frame("RE", "%a%"), Take::Paired}, {90, Frame("RE", "%b%"), Take::Paired}}, 90, State::Complete,
         {1, 1}},
        {"a continuation joins the full frame before it",
         "",
         {{1, Full("a"), Take::Paired}, {5, Frame("RE", " more"), Take::Paired}},
         5,
         State::Complete,
         {2}},
        {"a full frame waits for its continuation", "", {{1, Full("a"), Take::Paired}}, 50, State::Waiting, {1}},
        {"a full frame without continuation is whole after the silence", "", {{1, Full("a"), Take::Paired}}, 101,
         State::Complete, {1}},
        {"a continuation after another statement's frame is an orphan",
         ";",
         {{1, Full("a"), Take::Paired}, {2, Frame("RE", "%b%"), Take::Paired}, {3, Frame("RE", " x"), Take::Dropped}},
         3,
         State::Complete,
         {1, 1}},
        {"a continuation of another kind is an orphan",
         "",
         {{1, Full("a"), Take::Paired}, {2, Frame("ER", " x"), Take::Dropped}},
         2,
         State::Waiting,
         {1}},
        {"an orphan continuation is not an answer", "", {{1, Frame("RE", " tail"), Take::Dropped}}, 1, State::Waiting,
         {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CReplyPairing::Statement> statements;
        const QByteArray chain = c.chain;
        // "&&;" = a&&b;c ; ";;" = a;b;c ; ";" = a;b ; "" = a
        const int count = int(chain.count(';')) + int(chain.count("&&")) + 1;
        int pos = 0;
        for (int i = 0; i < count; ++i) {
            const bool andAnd = chain.mid(pos, 2) == "&&";
            pos += andAnd ? 2 : 1;
            statements.push_back({QByteArray(1, char('a' + i)), andAnd});
        }
        CReplyPairing p;
        p.Start(statements, 100, t0);
        for (const Step& s : c.steps) {
            EXPECT_EQ(p.OnReplyFrame(s.frame, t0 + Ms(s.atMs)), s.take) << s.frame.left(12).constData();
        }
        EXPECT_EQ(p.Check(t0 + Ms(c.checkAtMs)), c.state);
        ASSERT_EQ(p.Frames().size(), c.framesPerStatement.size());
        for (size_t i = 0; i < c.framesPerStatement.size(); ++i) {
            EXPECT_EQ(int(p.Frames()[i].size()), c.framesPerStatement[i]) << "statement " << i;
        }
    }
}

TEST(ReplyPairing, CountsWhatItDropsAndCapsTheSize)
{
    CReplyPairing p;
    // Nothing waits: an untagged reply is the receiver's own output, a tagged one a stale answer.
    EXPECT_EQ(p.OnReplyFrame(Frame("RE", "hello"), t0), Take::Unsolicited);
    EXPECT_EQ(p.OnReplyFrame(Frame("RE", "%a%late"), t0), Take::Dropped);
    p.Start({{"a", false}}, 100, t0);
    // A reply that trickles in never falls silent, but the line's total time is capped.
    for (int t = 0; t < 100 * CReplyPairing::kMaxReplySilences; t += 90) {
        p.OnReplyBytes(t0 + Ms(t));
        EXPECT_EQ(p.Check(t0 + Ms(t)), State::Waiting);
    }
    EXPECT_EQ(p.Check(t0 + Ms(100 * CReplyPairing::kMaxReplySilences)), State::TooSlow);

    p.Start({{"a", false}}, 100, t0);
    EXPECT_EQ(p.OnReplyFrame(Frame("ER", "{1,,x}"), t0), Take::Unsolicited);
    EXPECT_EQ(p.UntaggedWhileWaiting(), 1);
    EXPECT_EQ(p.UnpairedFrames(), 3u);

    EXPECT_EQ(p.OnReplyFrame(Full("a"), t0), Take::Paired);
    for (int i = 0; i * CFramer::kMaxBody <= CReplyPairing::kMaxReplyBytes; ++i) {
        EXPECT_EQ(p.OnReplyFrame(Frame("RE", ' ' + QByteArray(CFramer::kMaxBody - 1, 'y')), t0), Take::Paired);
    }
    EXPECT_EQ(p.Check(t0), State::TooLarge);
    p.Stop();
    EXPECT_EQ(p.Check(t0), State::Idle);
    EXPECT_EQ(p.OnReplyFrame(Frame("RE", " y"), t0), Take::Dropped);  // the line is over
}
