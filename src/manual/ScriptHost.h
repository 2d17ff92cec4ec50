#pragma once

#include <QString>

#include <cstdint>

// What the script interpreter needs from whoever runs it: the manual-mode terminal, the headless runner, tests.
// Every call comes from the thread that runs the script.
class IScriptHost
{
public:
    virtual ~IScriptHost() = default;

    // Appends a line to the output (the host adds the line end and applies its own rules).
    virtual void PrintOutput(const QString& text) = 0;
    virtual void SetStatus(const QString& text) = 0;
    virtual void ClearOutput() = 0;
    // Send, Clear, Start log, Load script, Edit script, Exit, Stop MSG and Discon.
    virtual void SetControlsEnabled(bool enabled) = 0;
    // The button that loads a script and, while one runs, requests its stop.
    virtual void SetScriptButton(const QString& caption, bool enabled) = 0;
    // Handles waiting user input without blocking, so that the stop request can arrive.
    virtual void ProcessPendingInput() = 0;

    virtual bool StopRequested() const = 0;
    virtual void ClearStopRequest() = 0;
    // The folder that script names are taken relative to.
    virtual QString ScriptFolder() const = 0;

    // A blocking receiver command without raw-output callback; false for an error reply or no reply.
    virtual bool Send(const QString& text) = 0;
    // The reply text of the last command.
    virtual QString Reply() = 0;
    // After a failed Send: the link's own message when the link failed (no reply in time, link lost); empty for
    // an error reply. A stop that cancelled the waiting command shows as StopRequested() instead.
    virtual QString LinkFailure() { return {}; }
    // The longest time the receiver may stay silent while a reply is awaited, from "@timeout" on.
    virtual void SetReplyTimeout(int /*ms*/) {}

    // A monotonic millisecond count, and a pause of about `ms` milliseconds (used by "@sleep").
    virtual int64_t TickMs() = 0;
    virtual void Wait(int ms) = 0;
};
