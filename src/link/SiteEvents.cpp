#include "link/SiteEvents.h"

#include "link/ReceiverHolder.h"

#include <QRegularExpression>

namespace {

// Text that would close the quoted event text or start another command on the receiver's command line.
bool BreaksEventText(const QString& text)
{
    if (text.contains(QLatin1Char('"')) || text.contains(QLatin1Char(';')) || text.contains(QLatin1String("&&"))) {
        return true;
    }
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsDecimalNumber(const QString& text)
{
    static const QRegularExpression kDecimal(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d{1,3})?$"));
    return kDecimal.match(text).hasMatch();
}

QString CheckSiteInfo(const SiteInfo& info, SiteField* field)
{
    SiteField at = SiteField::None;
    QString text;
    const QString name = info.name.trimmed();
    if (name.isEmpty() || BreaksEventText(name)) {
        at = SiteField::Name;
        text = QStringLiteral("Incorrect Site Name value");
    } else if (!IsDecimalNumber(info.antennaHeight.trimmed())) {
        at = SiteField::AntennaHeight;
        text = QStringLiteral("Incorrect Antenna Height value");
    } else if (BreaksEventText(info.antennaType)) {
        at = SiteField::AntennaType;
        text = QStringLiteral("Incorrect Antenna Type value");
    }
    if (field) {
        *field = at;
    }
    return text;
}

QString SiteEventBatch(const SiteInfo& info)
{
    return QStringLiteral("@scr stoperrors\n%%event,\"_SIT=") + info.name + QStringLiteral("\"\n%%event,\"_ANH=") +
           info.antennaHeight + (info.slant ? QStringLiteral("S") : QString()) + QStringLiteral("\"\n%%event,\"_DYM=") +
           (info.moving ? QStringLiteral("DYNAMIC") : QStringLiteral("STATIC")) +
           QStringLiteral("\"\n%%event,\"_ANT=") + info.antennaType + QStringLiteral("\"\n@end\n");
}

bool SendSiteEvents(CReceiverHolder& holder, const SiteInfo& info, QString* error)
{
    if (const QString invalid = CheckSiteInfo(info); !invalid.isEmpty()) {
        if (error) {
            *error = invalid;
        }
        return false;
    }
    if (holder.Send(SiteEventBatch(info))) {
        return true;
    }
    if (error) {
        // The refusal, not the answers to the events that went through before it.
        const QStringList lines = holder.Reply().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QString why = holder.Reply().trimmed();
        for (const QString& line : lines) {
            if (!line.startsWith(QLatin1String("RE"))) {
                why = line.trimmed();
                break;
            }
        }
        *error = why;
    }
    return false;
}

const QStringList& AntennaTypes()
{
    static const QStringList kTypes = {
        QStringLiteral("UNKNOWN"),
        QStringLiteral("PATCH L1"),
        QStringLiteral("PATCH L1 GROUNDPLANE"),
        QStringLiteral("PATCH L1/L2"),
        QStringLiteral("PATCH L1/L2 GROUNDPLANE"),
        QStringLiteral("MICROSTRIP L1/L2"),
        QStringLiteral("SURVEY L1/L2"),
        QStringLiteral("SURVEY L1/L2 GROUNDPLANE"),
        QStringLiteral("SURVEY L1/L2/L5"),
        QStringLiteral("SURVEY L1/L2/L5 GROUNDPLANE"),
        QStringLiteral("GEODETIC L1/L2"),
        QStringLiteral("GEODETIC L1/L2/L5"),
        QStringLiteral("CHOKE RING L1/L2"),
        QStringLiteral("CHOKE RING L1/L2 RADOME"),
        QStringLiteral("CHOKE RING L1/L2/L5"),
        QStringLiteral("CHOKE RING L1/L2/L5 RADOME"),
        QStringLiteral("HELIX L1/L2"),
        QStringLiteral("HELIX L1/L2/L5"),
        QStringLiteral("ROVER POLE L1/L2"),
        QStringLiteral("ROVER POLE L1/L2/L5"),
        QStringLiteral("BASE L1/L2 RADOME"),
        QStringLiteral("MARINE L1/L2"),
        QStringLiteral("MACHINE L1/L2"),
        QStringLiteral("INTEGRATED RECEIVER L1/L2"),
    };
    return kTypes;
}
