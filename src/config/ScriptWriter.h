#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include "config/Toolkit.h"

// The setup script: a script of the manual-mode language that resets a receiver of the same model and sets every
// parameter the sheet's pages show. The writers below append to the script that the open sheet is writing
// (through g_configSheet); with no script open they write nothing.

// A setup-script file: 8-bit text (Latin-1, no byte-order mark), every line ended with CR LF.
class CScriptFile
{
public:
    // Creates the file, replacing an existing one.
    bool Open(const QString& path);
    bool IsOpen() const { return m_file.isOpen(); }
    // False once any write has failed; later lines are not written.
    bool WriteLine(const QString& line);
    // Ends the writing with `text` as the reason: later lines are not written and Close() fails.
    void Refuse(const QString& text);
    // False when a line or the rest of the file could not be written or the script was refused (ErrorText() says
    // why, Refused() which).
    bool Close();
    QString ErrorText() const { return m_error; }
    bool Refused() const { return m_refused; }

private:
    QFile m_file;
    QString m_error;
    bool m_refused = false;
};

// The script's 67 header lines: the model check, the port branch and the parameter reset.
QStringList SetupScriptHeader(const QString& versionText, const QString& buildDateText, const QString& model);
// This build's texts for the header: "Version 0.1.0 " and "(june 5, 2026)".
QString ProgramVersionText();
QString BuildDateText();

bool WriteScriptLine(const QString& text);
// "%<path>%set,<path>,<value>": the path doubles as the reply tag.
// A value that is not safe (IsSafeParamValue) is not written: the script fails instead.
bool WriteSetLine(const QString& path, const QString& value);
// Copies the receiver's current value of `path` into the script; false (nothing written) when it is not reported.
bool WriteCurrentParam(const QString& path);
void WriteEditParam(const QString& path, QLineEdit* edit, bool quoted);
void WriteEditListParam(const QString& path, const EditList& edits, bool quoted);
void WriteCheckParam(const QString& path, QCheckBox* box, const QString& onValue, const QString& offValue);
void WriteCheckListParam(const QString& path, const CheckList& boxes, const QString& onValue, const QString& offValue,
                         bool bare);
void WriteComboParam(const QString& path, const QStringList& values, QComboBox* combo, const QStringList& labels);
void WriteRadioParam(const QString& path, const RadioList& radios, const QStringList& values);
// Disables every message on `port`, then enables the messages the receiver outputs there now, with their
// parameters. When the receiver does not report the port's messages readably nothing is written, the script
// fails and the result is false.
bool WritePortMessages(const QString& port);
// Around the lines of one port: a runner that talks through this very port passes them by, since changing the
// port it talks through (its input mode, its rate) would cut it off.
void WritePortGuard(const QString& port);
void WritePortGuardEnd(const QString& port);
