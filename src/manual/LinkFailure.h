#pragma once

#include <QString>

class CReceiver;

// The link's own message when the last command of `receiver` failed on the link (no reply in time, link lost);
// empty after success, an error reply or a cancel. For the script hosts' LinkFailure().
QString LinkFailureText(const CReceiver& receiver);

// The connection's time-out units for a reply time-out in milliseconds, rounded up.
unsigned ReplyTimeoutUnits(int ms);
