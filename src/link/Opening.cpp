#include "link/Opening.h"

Opening ClassifyOpening(QByteArray& bytes)
{
    static const QByteArray kLogin = "login:";
    static const QByteArray kPassword = "password:";
    for (;;) {
        qsizetype lead = 0;
        while (lead < bytes.size() &&
               (bytes[lead] == '\r' || bytes[lead] == '\n' || bytes[lead] == ' ' || bytes[lead] == '\t')) {
            ++lead;
        }
        if (lead < bytes.size() && bytes[lead] == '#') {
            const qsizetype end = bytes.indexOf('\n', lead);
            if (end < 0) {
                return Opening::Unknown;
            }
            bytes.remove(0, end + 1);
            continue;
        }
        // The case of "Password:" varies between receivers.
        const QByteArray start = bytes.mid(lead, kPassword.size()).toLower();
        if (start.startsWith(kLogin) || start == kPassword) {
            return Opening::Prompt;
        }
        return kLogin.startsWith(start) || kPassword.startsWith(start) ? Opening::Unknown : Opening::Output;
    }
}
