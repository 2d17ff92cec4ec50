// The comparison of a setup with a receiver, on text a receiver or a hand-edited setup script may hold. The input is
// four texts separated by NUL bytes: a setup's value, a receiver's printed value, a port's printed message list and
// lines of statements as a dry run records them. Oracles: values compare the same both ways round and each equals
// itself; a message list read the way the Ports page reads it has message items only, no more than its text holds, and
// matches itself; a plan holds each path once, with the lines that set it.
#include "FuzzSupport.h"

#include "manual/SetupCheck.h"
#include "manual/SetupValues.h"

#include <QSet>

namespace {

void Check(bool ok, const char* why)
{
    if (!ok) {
        FuzzFail("setupcheck", why);
    }
}

}  // namespace

void FuzzSetupCheck(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    const auto part = [&](int i) { return i < parts.size() ? QString::fromLatin1(parts[i]) : QString(); };
    const QString setup = part(0);
    const QString receiver = part(1);

    Check(SameSetupValue(setup, setup), "a value differs from itself");
    Check(SameSetupValue(setup, receiver) == SameSetupValue(receiver, setup), "the comparison depends on the order");
    const QString canonical = CanonicalDecimal(setup);
    Check(canonical.isNull() || CanonicalDecimal(canonical) == canonical, "a canonical number is not canonical");

    QStringList messages;
    const bool list = ReadPortMessageItems(part(2), &messages);
    Check(list || messages.isEmpty(), "messages read from what is no message list");
    Check(messages.size() <= parts.value(2).size() / 3, "more messages than the text holds");
    for (const QString& item : messages) {
        Check(item.contains(QLatin1Char(':')) && item.endsWith(QLatin1Char('}')), "a message item without options");
    }
    Check(SameMessages(messages, messages, true), "a message list differs from itself");

    std::vector<SetupStatement> statements;
    for (const QString& line : part(3).split(QLatin1Char('\n'))) {
        const QString command = line.startsWith(QLatin1Char('%')) ? line.section(QLatin1Char('%'), 2) : line;
        statements.push_back({line, command});
    }
    const SetupPlan plan = PlanSetup(statements);
    QSet<QString> paths;
    for (const SetupItem& item : plan.items) {
        Check(!paths.contains(item.path), "a path planned twice");
        paths.insert(item.path);
        Check(!item.lines.isEmpty(), "an item without the lines that set it");
    }
}
