#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>

class CConfigPage;
class CConnection;

// What pages and toolkit routines may ask of the open configuration sheet.
class IConfigSheet
{
public:
    virtual ~IConfigSheet() = default;
    // The status line under the pages (errors and progress of page operations).
    virtual void SetStatusText(const QString& text) = 0;
    virtual QString StatusText() const = 0;
    virtual void EnableApply(bool enable) = 0;
    virtual bool IsApplyEnabled() const = 0;
    // Hides the sheet while a page queries the receiver and shows it again afterwards.
    virtual void SetSheetVisible(bool visible) = 0;
    // Appends one line to the setup script being written; false when no script is open.
    virtual bool WriteScriptText(const QString& line) = 0;
    // A value that must not go into the script (see IsSafeParamValue): the script being written fails with `text`.
    virtual void RefuseScriptValue(const QString& /*text*/) {}
    // The connected receiver's firmware as major x 1000 + minor, read at connection; 0 when unknown.
    virtual int FirmwareVersion() const { return 0; }
    // The connection and the receiver name the sheet opened the receiver with (a page that restarts the receiver
    // opens it again with them); null / empty when unknown.
    virtual CConnection* Connection() const { return nullptr; }
    virtual QString ReceiverName() const { return QString(); }
    // The receiver model read at connection.
    virtual QString Model() const { return QString(); }
    // The shared receiver handle was replaced by a newly opened one: what the sheet attached is attached again.
    virtual void ReceiverReopened() {}
};

// The open configuration sheet, or null. The sheet sets it when it is built and clears it when it goes away;
// pages and toolkit routines reach the sheet only through it (a null pointer makes their sheet calls no-ops).
extern IConfigSheet* g_configSheet;

// Installs a sheet as g_configSheet for a scope and puts back the previous one.
class CConfigSheetScope
{
public:
    explicit CConfigSheetScope(IConfigSheet* sheet) : m_previous(g_configSheet) { g_configSheet = sheet; }
    ~CConfigSheetScope() { g_configSheet = m_previous; }
    CConfigSheetScope(const CConfigSheetScope&) = delete;
    CConfigSheetScope& operator=(const CConfigSheetScope&) = delete;

private:
    IConfigSheet* m_previous;
};

// The latest message body of a stream message, written by the link's thread and read by the GUI thread.
class CMessageBuffer
{
public:
    void Store(const char* body, int length);
    QByteArray Body() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    QByteArray m_body;
};

// The body (without its 5-byte header) of the latest "PG" message received while the sheet was open: the
// receiver's current geodetic position, which pages read.
extern CMessageBuffer g_pgMessage;

// The output period in seconds that SetOutputPeriodParam parsed last; real-time logging starts from it.
extern std::atomic<float> g_lastOutputPeriod;

// Published by the Positioning and Rover pages while they exist, so that an apply on one re-queries the other.
extern CConfigPage* g_positionPage;
extern CConfigPage* g_roverPage;
