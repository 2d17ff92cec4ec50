#include "manual/TerminalOutput.h"

#include <QIODevice>

namespace {

QString ScreenForm(QString text)
{
    text.remove(QLatin1Char('\r'));
    return text;
}

}  // namespace

bool CTerminalOutput::IsEmptyAnswer(const QString& reply)
{
    // The link ends every reply frame with CR LF; what counts is the frame, not its line end.
    QString frame = reply;
    while (frame.endsWith(QLatin1Char('\n')) || frame.endsWith(QLatin1Char('\r'))) {
        frame.chop(1);
    }
    return frame == QLatin1String("RE000");
}

CTerminalOutput::Change CTerminalOutput::AppendReply(const QString& reply)
{
    if (IsEmptyAnswer(reply)) {
        return {};
    }
    const QString text = WithLineEnd(reply);
    WriteLog(text.toLatin1());
    return Append(text, m_lines - m_limit);
}

CTerminalOutput::Change CTerminalOutput::AppendPrint(const QString& text)
{
    const QString line = WithLineEnd(text);
    if (!line.startsWith(QLatin1Char('>'))) {
        WriteLog(line.toLatin1());
    }
    return Append(FilterPrintable(line), m_lines >= m_limit ? 1 : 0);
}

CTerminalOutput::Change CTerminalOutput::AppendRaw(const QByteArray& bytes, const QString& display)
{
    if (bytes.isEmpty()) {
        return {};
    }
    WriteLog(bytes);
    return Append(display, m_lines - m_limit);
}

CTerminalOutput::Change CTerminalOutput::Append(const QString& text, int drop)
{
    Change change;
    if (drop > 0) {
        qsizetype cut = 0;
        int dropped = 0;
        while (dropped < drop) {
            const qsizetype lf = m_text.indexOf(QLatin1Char('\n'), cut);
            if (lf < 0) {
                cut = m_text.size();  // more lines to drop than complete ones: the last one goes too
                ++dropped;
                break;
            }
            cut = lf + 1;
            ++dropped;
        }
        m_text.remove(0, cut);
        m_lines = 1 + int(m_text.count(QLatin1Char('\n')));
        change.droppedLines = dropped;
    }
    m_text += text;
    m_lines += int(text.count(QLatin1Char('\n')));
    change.appended = ScreenForm(text);
    return change;
}

void CTerminalOutput::Clear()
{
    m_text.clear();
    m_lines = 1;
}

QString CTerminalOutput::ScreenText() const
{
    return ScreenForm(m_text);
}

void CTerminalOutput::WriteLog(const QByteArray& bytes)
{
    if (m_log && m_log->isOpen()) {
        m_log->write(bytes);
    }
}

QString FilterRawOutput(const char* data, int length)
{
    QString text;
    if (!data || length <= 0) {
        return text;
    }
    text.reserve(length + length / 8);
    for (int i = 0; i < length; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (b == '\n') {
            if (i == 0 || data[i - 1] != '\r') {
                text += QLatin1Char('\r');
            }
            text += QLatin1Char('\n');
        } else if (b == '\r' || (b >= 0x20 && b <= 0x7F)) {
            text += QLatin1Char(char(b));
        } else {
            text += QLatin1Char('.');
        }
    }
    return text;
}

QString FilterPrintable(const QString& text)
{
    QString shown = text;
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\r' && u != '\n') || u >= 0x7F) {
            c = QLatin1Char('.');
        }
    }
    return shown;
}

QString WithLineEnd(const QString& text)
{
    return text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1String("\r\n");
}
