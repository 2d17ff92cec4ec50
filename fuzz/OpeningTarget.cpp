// The first bytes of a receiver that was said to send no greeting, as the link reads them piece by piece. The
// input either plants a login or password prompt behind "#" chatter and blank space, or is any text. Oracles: a
// planted prompt is always found and never taken for output; the verdict does not depend on how the bytes were
// cut; only whole leading lines are dropped.
#include "FuzzSupport.h"

#include "link/Opening.h"

#include <vector>

namespace {

QByteArray Blank(CFuzzInput& in)
{
    return in.Text(3, " \t\r\n");
}

QByteArray Planted(CFuzzInput& in)
{
    QByteArray text;
    for (int lines = in.Pick(4); lines > 0; --lines) {
        QByteArray chatter = in.Bytes(size_t(in.Pick(24)));
        chatter.replace('\n', ' ');
        text += Blank(in) + '#' + chatter + (in.Pick(2) ? "\r\n" : "\n");
    }
    QByteArray prompt = in.Pick(2) ? "login:" : "password:";
    for (char& c : prompt) {
        if (c != ':' && in.Pick(2) == 1) {
            c = char(c - 'a' + 'A');
        }
    }
    return text + Blank(in) + prompt + in.Rest();
}

struct Verdict
{
    Opening opening = Opening::Unknown;
    QByteArray kept;
};

// As the reader does: each piece joins what is held, until the verdict is known.
Verdict Feed(const QByteArray& text, const std::vector<int>& cuts)
{
    Verdict v;
    qsizetype pos = 0;
    for (size_t next = 0; pos < text.size() && v.opening == Opening::Unknown; ++next) {
        const qsizetype n = next < cuts.size() ? cuts[next] : text.size() - pos;
        v.kept += text.mid(pos, n);
        pos += n;
        v.opening = ClassifyOpening(v.kept);
    }
    v.kept += text.mid(pos);
    return v;
}

}  // namespace

void FuzzOpening(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    std::vector<int> cuts;
    for (int n = in.Pick(8); n > 0; --n) {
        cuts.push_back(1 + in.Pick(12));
    }
    const bool planted = in.Pick(2) == 1;
    const QByteArray text = planted ? Planted(in) : in.Rest();
    const Verdict whole = Feed(text, {});
    const Verdict cut = Feed(text, cuts);
    if (planted && whole.opening != Opening::Prompt) {
        FuzzFail("opening", "a login prompt behind chatter is not found");
    }
    if (planted && cut.opening != Opening::Prompt) {
        FuzzFail("opening", "a login prompt that arrives in pieces is not found");
    }
    if (cut.opening != whole.opening) {
        FuzzFail("opening", "the verdict depends on how the bytes were cut");
    }
    if (!text.endsWith(whole.kept) || !text.endsWith(cut.kept)) {
        FuzzFail("opening", "the bytes kept are not the end of what came");
    }
    const qsizetype dropped = text.size() - whole.kept.size();
    if (dropped > 0 && text[dropped - 1] != '\n') {
        FuzzFail("opening", "part of a line was dropped");
    }
}
