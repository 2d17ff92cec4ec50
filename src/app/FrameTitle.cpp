#include "app/FrameTitle.h"

#include "link/ReceiverName.h"

namespace {

const QString kProduct = QStringLiteral("Nemola-M");

}  // namespace

QString IdleFrameTitle()
{
    return kProduct + QStringLiteral("(idle)");
}

QString ConnectedFrameTitle(const QString& model, const QString& receiverName, const QString& baseMode,
                            const QString& roverMode)
{
    QString title = kProduct + QStringLiteral(" to ") + model + QLatin1Char(':') + ReceiverShortName(receiverName);
    if (baseMode.contains(QLatin1String("on"))) {
        title += QStringLiteral("(base)");
    }
    if (roverMode.contains(QLatin1String("on"))) {
        title += QStringLiteral("(rover)");
    }
    return title;
}

QString ConnectedTimeText(int64_t seconds)
{
    if (seconds < 0) {
        seconds = 0;
    }
    const int64_t h = seconds / 3600;
    const int m = int((seconds / 60) % 60);
    const int s = int(seconds % 60);
    if (h > 24) {
        return QString::asprintf("%lldd %02d:%02d:%02d", static_cast<long long>(h / 24), int(h % 24), m, s);
    }
    return QString::asprintf("%02d:%02d:%02d", int(h), m, s);
}
