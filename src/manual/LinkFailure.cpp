#include "manual/LinkFailure.h"

#include "link/Connection.h"
#include "link/Receiver.h"

#include <algorithm>

QString LinkFailureText(const CReceiver& receiver)
{
    QString fallback;
    switch (receiver.LastFailure()) {
        case CReceiver::Failure::TimedOut:
            fallback = QStringLiteral("No reply from the receiver");
            break;
        case CReceiver::Failure::LinkLost:
            fallback = QStringLiteral("Link lost");
            break;
        default:
            return {};
    }
    // Replies that came before the failure fill the reply text (frames, each ending with CR LF); the link's
    // message is the reply only when nothing came.
    const QString reply = receiver.GetReplyString();
    return reply.isEmpty() || reply.endsWith(QLatin1String("\r\n")) ? fallback : reply.trimmed();
}

unsigned ReplyTimeoutUnits(int ms)
{
    const int unit = CConnection::kTimeoutUnitMs;
    return unsigned((std::max(ms, 1) + unit - 1) / unit);
}
