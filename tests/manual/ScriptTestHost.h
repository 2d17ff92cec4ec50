#pragma once

#include "link/ReceiverHolder.h"
#include "manual/ScriptHost.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
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
    void SetControlsEnabled(bool enabled) override { controls << enabled; }
    void SetScriptButton(const QString& caption, bool enabled) override
    {
        buttonCaptions << caption;
        buttonEnabled = enabled;
    }
    void ProcessPendingInput() override
    {
        ++pendingInputCalls;
        if (onPendingInput) {
            onPendingInput(*this);
        }
    }
    bool StopRequested() const override { return stop; }
    void ClearStopRequest() override { stop = false; }
    QString ScriptFolder() const override { return m_folder; }
    bool Send(const QString& text) override
    {
        sent << text;
        return m_holder->Send(text);
    }
    QString Reply() override { return m_holder->Reply(); }
    int64_t TickMs() override { return tick; }
    void Wait(int ms) override
    {
        tick += ms;
        waited += ms;
    }

    QString LastStatus() const { return statuses.isEmpty() ? QString() : statuses.last(); }
    // Output lines that the script itself printed (echo and messages), without receiver replies.
    QStringList Printed() const
    {
        QStringList lines;
        for (const QString& line : output) {
            if (line.startsWith(QLatin1Char('>'))) {
                lines << line;
            }
        }
        return lines;
    }

    QStringList output;
    QStringList statuses;
    QStringList sent;
    QList<bool> controls;
    QStringList buttonCaptions;
    bool buttonEnabled = false;
    bool stop = false;
    int pendingInputCalls = 0;
    int64_t tick = 5000000;
    int64_t waited = 0;
    std::function<void(CScriptTestHost&)> onPendingInput;

private:
    CReceiverHolder* m_holder;
    QString m_folder;
};

// Writes a script file in 8-bit form (the text's characters as Latin-1 bytes).
inline void WriteLatin1Script(const QString& path, const QString& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(text.toLatin1());
    }
}

inline void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(bytes);
    }
}

inline QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
