#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// The terminal's output window as text, with the rules for line ends, character filtering, the line limit and the
// log file. The window widget only mirrors it: each append returns what to change on screen.
//
// The text is kept with CR LF line ends; a line is what ends at a LF (a text with k LFs has k + 1 lines, the last
// one usually empty). Screen text is the same with every CR removed, so screen lines match these lines one to one.
class CTerminalOutput
{
public:
    static constexpr int kMaxLines = 550;

    // What an append did, in screen form: drop the first `droppedLines` lines, then add `appended`.
    struct Change
    {
        int droppedLines = 0;
        QString appended;
        bool IsEmpty() const { return droppedLines == 0 && appended.isEmpty(); }
    };

    void SetLineLimit(int limit) { m_limit = limit; }
    int LineLimit() const { return m_limit; }
    // Null: no log. The log is written in Latin-1, so that reply bytes come back out as the receiver sent them.
    void SetLog(QIODevice* log) { m_log = log; }

    // A reply of a command typed by the user: logged and shown unfiltered, after dropping the lines above the
    // limit. A reply that is only the empty answer "RE000" is neither shown nor logged.
    Change AppendReply(const QString& reply);
    // A line of script output: logged unless it begins with '>', shown filtered; one old line goes at the limit.
    Change AppendPrint(const QString& text);
    // A chunk of raw receiver output: the bytes are logged unchanged, `display` (see FilterRawOutput) is shown.
    Change AppendRaw(const QByteArray& bytes, const QString& display);

    void Clear();

    const QString& Text() const { return m_text; }
    QString ScreenText() const;
    int LineCount() const { return m_lines; }

    // True for the reply of a command that answers nothing: "RE000" with or without its line end.
    static bool IsEmptyAnswer(const QString& reply);

private:
    Change Append(const QString& text, int drop);
    void WriteLog(const QByteArray& bytes);

    QString m_text;
    int m_lines = 1;
    int m_limit = kMaxLines;
    QIODevice* m_log = nullptr;
};

// The text shown for a chunk of raw receiver output: a LF not preceded by CR within the chunk becomes CR LF;
// bytes 0x20..0x7F, CR and LF stay; every other byte becomes '.'.
QString FilterRawOutput(const char* data, int length);

// Script output as shown: characters below 0x20 other than CR and LF, and from 0x7F up, become '.'.
QString FilterPrintable(const QString& text);

// `text` with CR LF appended when it does not end with LF.
QString WithLineEnd(const QString& text);
