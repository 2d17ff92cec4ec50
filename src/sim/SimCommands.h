#pragma once

#include <QByteArray>
#include <QString>

class CSimCore;
struct SimSession;

// Runs one command line of a session (without its line end) and sends the replies. Call with the core locked.
void RunCommandLine(CSimCore& core, SimSession& session, const QByteArray& line);

// The value "print,<path>" answers; false when the receiver has no such path. `session` may be null (then
// paths that depend on the asking port are unknown).
bool PrintValue(const CSimCore& core, const SimSession* session, const QString& path, QString* value);

// A reply frame (or several, for a body longer than one frame holds), each followed by CR LF.
QByteArray ReplyFrames(const char id[2], const QByteArray& body);
