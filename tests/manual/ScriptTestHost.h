#pragma once

#include "link/ReceiverHolder.h"
#include "manual/ScriptHost.h"
#include "support/SimHarness.h"

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>

// A script host that records everything and runs on a fake clock; commands go to a receiver holder.
class CScriptTestHost : public IScriptHost
{
public:
    CScriptTestHost(CReceiverHolder* holder, QString folder) : m_holder(holder), m_folder(std::move(folder)) {}

    void PrintOutput(const QString& text) override { output << text; }
    void SetStatus(const QString& text) override { statuses << text; }
    void ClearOutput() override { output << QStringLiteral("<clear>"); }
    // Control changes and script-button captions, in their order.
    void SetControlsEnabled(bool enabled) override { ui << (enabled ? "controls on" : "controls off"); }
    void SetScriptButton(const QString& caption, bool enabled) override { ui << caption + (enabled ? "" : " (off)"); }
    void ProcessPendingInput() override
    {
        if (onPendingInput) {
            onPendingInput();
        }
    }
    bool StopRequested() const override { return stop; }
    void ClearStopRequest() override { stop = false; }
    QString ScriptFolder() const override { return m_folder; }
    bool Send(const QString& text) override { return m_holder->Send(text); }
    QString Reply() override { return m_holder->Reply(); }
    int64_t TickMs() override { return tick; }
    void Wait(int ms) override
    {
        tick += ms;
        waited += ms;
    }

    // Forgets what earlier runs recorded.
    void Reset()
    {
        output.clear();
        statuses.clear();
        ui.clear();
        waited = 0;
    }
    QString LastStatus() const { return statuses.isEmpty() ? QString() : statuses.last(); }
    // Output lines that the script itself printed (echo and messages), without receiver replies.
    QStringList Printed() const { return output.filter(QRegularExpression(QStringLiteral("^>"))); }

    QStringList output;
    QStringList statuses;
    QStringList ui;
    bool stop = false;
    int64_t tick = 5000000;
    int64_t waited = 0;
    std::function<void()> onPendingInput;

private:
    CReceiverHolder* m_holder;
    QString m_folder;
};

// Writes a script file in 8-bit form (the text's characters as Latin-1 bytes).
inline void WriteLatin1Script(const QString& path, const QString& text)
{
    WriteFile(path, text.toLatin1());
}

// A script file in its UTF-16 form, built byte by byte: the mark FF FE, then each character low byte first.
inline QByteArray Utf16File(const QString& text)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    }
    return bytes;
}
