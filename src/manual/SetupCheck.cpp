#include "manual/SetupCheck.h"

#include "link/CommandText.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "link/Scan.h"
#include "manual/LinkFailure.h"
#include "manual/ScriptText.h"
#include "manual/SetupValues.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

// Parameters whose "set" is an action, not a setting: a comparison never sends them.
const char* const kActionPaths[] = {"/par/reset"};

QString ParamPath(QString path)
{
    path = path.trimmed();
    return path.startsWith(QLatin1Char('/')) ? path : QStringLiteral("/par/") + path;
}

bool IsPort(const QString& port)
{
    static const QRegularExpression kPort(QStringLiteral("^/dev/[a-z]+/[a-z]$"));
    return kPort.match(port).hasMatch();
}

// The reply lines of one command or batch, without their line ends.
QStringList ReplyLines(const QString& reply)
{
    QStringList lines;
    for (QString line : reply.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        if (!line.isEmpty()) {
            lines << line;
        }
    }
    return lines;
}

QString ErrorText(const QString& line)
{
    return line.mid(5).trimmed();
}

// A port's messages as one value; a port that outputs nothing says so rather than showing nothing.
QString MessagesText(const QStringList& messages)
{
    return messages.isEmpty() ? QStringLiteral("none") : messages.join(QLatin1Char(','));
}

QString Shown(const QString& value)
{
    return value.isNull() ? QStringLiteral("-") : value;
}

}  // namespace

struct CSetupCheck::Read
{
    RowState state = RowState::Unreadable;
    QString value;
    QString error;
};

SetupPlan PlanSetup(const std::vector<SetupStatement>& statements)
{
    SetupPlan plan;
    QHash<QString, size_t> index;
    const auto item = [&](const QString& path, bool isPort) -> SetupItem& {
        const auto it = index.find(path);
        if (it != index.end()) {
            return plan.items[*it];
        }
        index.insert(path, plan.items.size());
        plan.items.push_back({});
        plan.items.back().path = path;
        plan.items.back().isPort = isPort;
        return plan.items.back();
    };
    for (size_t n = 0; n < statements.size(); ++n) {
        const SetupStatement& s = statements[n];
        const QString verb = s.command.section(QLatin1Char(','), 0, 0).trimmed().toLower();
        const QString first = s.command.section(QLatin1Char(','), 1, 1).trimmed();
        const QString rest = s.command.section(QLatin1Char(','), 2);
        const bool single = SplitChain(s.line).size() == 1;
        if (single && verb == QLatin1String("set") && s.command.count(QLatin1Char(',')) >= 2 && !first.isEmpty() &&
            !std::any_of(std::begin(kActionPaths), std::end(kActionPaths),
                         [&](const char* action) { return ParamPath(first) == QLatin1String(action); })) {
            SetupItem& i = item(ParamPath(first), false);
            i.value = rest.trimmed();
            i.lines = QStringList{s.line};
            i.order = int(n);
        } else if (single && verb == QLatin1String("init") && ParamPath(first).startsWith(QLatin1String("/par/")) &&
                   s.command.count(QLatin1Char(',')) == 1) {
            plan.resetTrees << ParamPath(first);
        } else if (single && verb == QLatin1String("dm") && IsPort(first) && s.command.count(QLatin1Char(',')) == 1) {
            SetupItem& i = item(QStringLiteral("/par/out") + first, true);
            i.messages.clear();
            i.lines = QStringList{s.line};
            i.exact = true;
            i.order = int(n);
        } else if (single && verb == QLatin1String("em") && IsPort(first) && !rest.trimmed().isEmpty()) {
            SetupItem& i = item(QStringLiteral("/par/out") + first, true);
            i.messages << rest.trimmed();
            i.lines << s.line;
            i.order = int(n);
        } else {
            plan.uncompared << s.line;
        }
    }
    for (SetupItem& i : plan.items) {
        if (i.isPort) {
            i.value = MessagesText(i.messages);
        }
    }
    std::sort(plan.items.begin(), plan.items.end(),
              [](const SetupItem& a, const SetupItem& b) { return a.order < b.order; });
    return plan;
}

CSetupCheck::CSetupCheck(CReceiverHolder& holder, std::function<bool()> stop, CheckProgress progress)
    : m_holder(holder), m_stop(std::move(stop)), m_progress(std::move(progress))
{
}

void CSetupCheck::Progress(const QString& step, int done, int total) const
{
    if (m_progress) {
        m_progress(step, done, total);
    }
}

void CSetupCheck::EndAfterFailure(SetupComparison* out)
{
    if (Stopped()) {
        out->end = CheckEnd::Stopped;
        out->endText = CScriptInterpreter::AbortedText();
        return;
    }
    out->end = CheckEnd::LinkFailed;
    out->endText = LinkFailureText(*m_holder.GetReceiver());
    if (out->endText.isEmpty()) {
        out->endText = QStringLiteral("No reply from the receiver");
    }
}

SetupComparison CSetupCheck::Compare(const QString& scriptPath)
{
    SetupComparison out;
    out.scriptPath = scriptPath;
    Progress(QStringLiteral("Reading the setup script"), 0, 0);
    out.dryRun = DryRunSetup(m_holder, scriptPath, m_stop, maxDryRunSteps);
    using Outcome = CScriptInterpreter::Outcome;
    switch (out.dryRun.outcome) {
        case Outcome::Completed:
            break;
        case Outcome::Stopped:
            out.end = CheckEnd::HeaderStopped;
            out.endText = out.dryRun.echoes.join(QLatin1Char(' '));
            if (out.endText.isEmpty()) {
                out.endText = QStringLiteral("The script stopped itself");
            }
            return out;
        case Outcome::LinkFailed:
            out.end = CheckEnd::LinkFailed;
            out.endText = out.dryRun.linkFailure.isEmpty() ? out.dryRun.status : out.dryRun.linkFailure;
            return out;
        case Outcome::Aborted:
            if (!out.dryRun.tooManySteps) {
                out.end = CheckEnd::Stopped;
                out.endText = CScriptInterpreter::AbortedText();
                return out;
            }
            out.end = CheckEnd::ScriptFailed;
            out.endText = QStringLiteral("The script does not end: stopped after %1 lines or %2 commands")
                              .arg(maxDryRunSteps)
                              .arg(kMaxDryRunCommands);
            return out;
        default:
            out.end = CheckEnd::ScriptFailed;
            out.endText = out.dryRun.status;
            return out;
    }
    out.plan = PlanSetup(out.dryRun.statements);
    for (const SetupItem& item : out.plan.items) {
        out.rows.push_back({item, RowState::Unreadable, QString(), QString(), false});
    }
    std::vector<CompareRow*> all;
    for (CompareRow& row : out.rows) {
        all.push_back(&row);
    }
    if (!ReadRows(all, QStringLiteral("Reading the receiver's values"), &out)) {
        return out;
    }
    for (CompareRow& row : out.rows) {
        row.selected = row.state == RowState::Differs;
    }
    if (ownPortStopped && m_holder.Send(QStringLiteral("print,/cur/term"))) {
        const QString own = QStringLiteral("/par/out") + AnswerValue(m_holder.Reply());
        for (CompareRow& row : out.rows) {
            if (row.item.isPort && row.item.path == own && row.state == RowState::Differs) {
                row.selected = false;
                row.error = QStringLiteral("this program's own port, whose output it stops while it works");
            }
        }
    }
    out.resetOnly = CountResetOnly(out);
    return out;
}

bool CSetupCheck::ReadBatch(const std::vector<CompareRow*>& rows, std::vector<Read>* reads, SetupComparison* out)
{
    QStringList commands;
    for (const CompareRow* row : rows) {
        commands << QStringLiteral("print,") + row->item.path + (row->item.isPort ? QStringLiteral(":on") : QString());
    }
    reads->assign(rows.size(), Read{});
    if (!m_holder.Send(QStringLiteral("@scr stoperrors off\n") + commands.join(QLatin1Char('\n')) +
                       QStringLiteral("\n@end\n"))) {
        EndAfterFailure(out);
        return false;
    }
    const QStringList lines = ReplyLines(m_holder.Reply());
    // The link pairs one reply with each command; anything else leaves the values unknown, not misplaced.
    if (lines.size() != commands.size()) {
        for (Read& read : *reads) {
            read.error = QStringLiteral("the replies do not fit the commands");
        }
        return true;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        const QString& line = lines[qsizetype(i)];
        Read& read = (*reads)[i];
        if (line.startsWith(QLatin1String("RE"))) {
            read.state = RowState::Same;
            read.value = line.mid(5).trimmed();
        } else {
            read.error = ErrorText(line);
            read.state = read.error.startsWith(QLatin1String("{2,")) ? RowState::Missing : RowState::Unreadable;
        }
    }
    return true;
}

bool CSetupCheck::ReadRows(const std::vector<CompareRow*>& rows, const QString& step, SetupComparison* out)
{
    const int total = int(rows.size());
    for (size_t start = 0; start < rows.size(); start += kBatchLines) {
        Progress(step, int(start), total);
        if (Stopped()) {
            EndAfterFailure(out);
            return false;
        }
        const std::vector<CompareRow*> batch(rows.begin() + qsizetype(start),
                                             rows.begin() + qsizetype(std::min(rows.size(), start + kBatchLines)));
        std::vector<Read> reads;
        if (!ReadBatch(batch, &reads, out)) {
            return false;
        }
        for (size_t i = 0; i < batch.size(); ++i) {
            CompareRow& row = *batch[i];
            const Read& read = reads[i];
            row.error = read.error;
            row.receiver = QString();
            if (read.state != RowState::Same) {
                row.state = read.state;
                continue;
            }
            if (!row.item.isPort) {
                row.receiver = read.value;
                row.state = SameSetupValue(row.item.value, read.value) ? RowState::Same : RowState::Differs;
                continue;
            }
            QStringList messages;
            if (!ReadPortMessageItems(read.value, &messages)) {
                row.state = RowState::Unreadable;
                row.error = QStringLiteral("not a message list: ") + read.value.left(80);
                continue;
            }
            row.receiver = MessagesText(messages);
            row.state = SameMessages(row.item.messages, messages, row.item.exact) ? RowState::Same : RowState::Differs;
        }
    }
    Progress(step, total, total);
    return true;
}

int CSetupCheck::CountResetOnly(const SetupComparison& comparison)
{
    if (comparison.plan.resetTrees.isEmpty()) {
        return -1;
    }
    QSet<QString> set;
    for (const SetupItem& item : comparison.plan.items) {
        set.insert(item.path);
    }
    static const QRegularExpression kName(QStringLiteral("^[A-Za-z0-9_.\\-]{1,64}$"));
    // Level by level: a "list" that answers is a directory, one that is refused a parameter.
    QStringList level;
    for (const QString& tree : comparison.plan.resetTrees) {
        level << (tree.endsWith(QLatin1Char('/')) ? tree.chopped(1) : tree);
    }
    level.removeDuplicates();
    int listed = 0;
    int count = 0;
    for (int depth = 0; !level.isEmpty() && depth <= kMaxListDepth; ++depth) {
        QStringList next;
        for (qsizetype start = 0; start < level.size(); start += kBatchLines) {
            Progress(QStringLiteral("Listing the receiver's parameters"), listed, 0);
            if (Stopped()) {
                return -1;
            }
            const QStringList part = level.mid(start, kBatchLines);
            QStringList commands;
            for (const QString& path : part) {
                commands << QStringLiteral("list,") + path;
            }
            if (!m_holder.Send(QStringLiteral("@scr stoperrors off\n") + commands.join(QLatin1Char('\n')) +
                               QStringLiteral("\n@end\n"))) {
                return -1;
            }
            const QStringList lines = ReplyLines(m_holder.Reply());
            if (lines.size() != part.size()) {
                return -1;
            }
            for (qsizetype i = 0; i < part.size(); ++i) {
                if (!lines[i].startsWith(QLatin1String("RE"))) {
                    count += set.contains(part[i]) ? 0 : 1;
                    continue;
                }
                QString names = lines[i].mid(5).trimmed();
                if (names.startsWith(QLatin1Char('{')) && names.endsWith(QLatin1Char('}'))) {
                    names = names.mid(1, names.size() - 2);
                }
                for (const QString& name : names.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                    if (!kName.match(name.trimmed()).hasMatch()) {
                        continue;
                    }
                    if (++listed > kMaxListed) {
                        return -1;
                    }
                    next << part[i] + QLatin1Char('/') + name.trimmed();
                }
            }
        }
        level = next;
    }
    return level.isEmpty() ? count : -1;
}

void CSetupCheck::Apply(SetupComparison* comparison)
{
    comparison->end = CheckEnd::Done;
    comparison->endText.clear();
    std::vector<CompareRow*> selected;
    for (CompareRow& row : comparison->rows) {
        if (row.selected) {
            selected.push_back(&row);
        }
    }
    std::vector<CompareRow*> sent;
    const int total = int(selected.size());
    for (CompareRow* row : selected) {
        Progress(QStringLiteral("Applying"), int(sent.size()), total);
        if (Stopped()) {
            EndAfterFailure(comparison);
            break;
        }
        bool refused = false;
        for (const QString& line : row->item.lines) {
            if (m_holder.Send(line)) {
                continue;
            }
            if (m_holder.LastFailure() != CReceiver::Failure::ErrorReply) {
                EndAfterFailure(comparison);
                break;
            }
            row->state = RowState::Refused;
            row->error = ReplyValue(m_holder.Reply());
            refused = true;
            break;
        }
        if (comparison->end != CheckEnd::Done) {
            // The row's lines may have gone out in part: only a read tells what it holds now.
            sent.push_back(row);
            break;
        }
        row->selected = false;
        if (!refused) {
            sent.push_back(row);
        }
    }
    if (sent.empty()) {
        return;
    }
    // Until a read says otherwise, nothing is known of what went out; after a stop or a link failure nothing is
    // read at all, so that the user is not kept waiting.
    for (CompareRow* row : sent) {
        row->state = RowState::Unreadable;
        row->receiver = QString();
        row->error = QStringLiteral("not read back");
    }
    if (comparison->end == CheckEnd::Done) {
        ReadRows(sent, QStringLiteral("Reading back"), comparison);
    }
    for (CompareRow* row : sent) {
        if (row->state == RowState::Same) {
            row->state = RowState::Verified;
        } else if (row->state == RowState::Differs) {
            row->state = RowState::Kept;
        } else if (row->state == RowState::Unreadable && comparison->end != CheckEnd::Done) {
            row->error = QStringLiteral("not read back: ") + comparison->endText;
        }
    }
}

QString RowStateWord(RowState state)
{
    switch (state) {
        case RowState::Same:
            return QStringLiteral("same");
        case RowState::Differs:
            return QStringLiteral("differs");
        case RowState::Missing:
            return QStringLiteral("missing");
        case RowState::Unreadable:
            return QStringLiteral("unreadable");
        case RowState::Verified:
            return QStringLiteral("verified");
        case RowState::Kept:
            return QStringLiteral("kept");
        case RowState::Refused:
            return QStringLiteral("refused");
    }
    return {};
}

QString RowStateText(const CompareRow& row)
{
    switch (row.state) {
        case RowState::Missing:
            return QStringLiteral("not on this receiver");
        case RowState::Unreadable:
            return row.error.isEmpty() ? QStringLiteral("unreadable") : QStringLiteral("unreadable: ") + row.error;
        case RowState::Kept:
            return QStringLiteral("the receiver kept ") + row.receiver;
        case RowState::Refused:
            return QStringLiteral("refused: ") + row.error;
        case RowState::Differs:
            return row.error.isEmpty() ? RowStateWord(row.state) : QStringLiteral("differs: ") + row.error;
        default:
            return RowStateWord(row.state);
    }
}

QString MismatchLine(const CompareRow& row)
{
    const QString head = row.item.path + QStringLiteral(": setup ") + row.item.value;
    if (row.receiver.isNull() && (row.state == RowState::Missing || row.state == RowState::Unreadable)) {
        return head + QStringLiteral(", receiver: ") + RowStateText(row);
    }
    return head + QStringLiteral(", receiver ") + Shown(row.receiver);
}

QString ComparisonSummary(const SetupComparison& comparison)
{
    int counts[int(RowState::Refused) + 1] = {};
    for (const CompareRow& row : comparison.rows) {
        ++counts[int(row.state)];
    }
    QStringList parts;
    const std::pair<RowState, const char*> kNames[] = {{RowState::Same, "same"},
                                                       {RowState::Differs, "differ"},
                                                       {RowState::Missing, "not on this receiver"},
                                                       {RowState::Unreadable, "unreadable"},
                                                       {RowState::Verified, "verified"},
                                                       {RowState::Kept, "kept by the receiver"},
                                                       {RowState::Refused, "refused"}};
    for (const auto& [state, name] : kNames) {
        if (counts[int(state)] > 0) {
            parts << QStringLiteral("%1 %2").arg(counts[int(state)]).arg(QLatin1String(name));
        }
    }
    QString text = QStringLiteral("%1 parameters compared").arg(comparison.rows.size());
    if (!parts.isEmpty()) {
        text += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    }
    text += QLatin1Char('.');
    if (comparison.resetOnly >= 0) {
        text += QStringLiteral(
                    " The script first resets the receiver's parameters to their defaults; %1 it does not "
                    "set are not compared.")
                    .arg(comparison.resetOnly);
    } else if (!comparison.plan.resetTrees.isEmpty()) {
        text += QStringLiteral(
            " The script first resets the receiver's parameters to their defaults; those it does "
            "not set are not compared.");
    }
    return text;
}

QString ComparisonReport(const SetupComparison& comparison, const QString& receiverName)
{
    QStringList out;
    out << QStringLiteral("Setup: ") + comparison.scriptPath;
    out << QStringLiteral("Receiver: ") + receiverName;
    if (comparison.end != CheckEnd::Done) {
        out << QStringLiteral("Ended early: ") + comparison.endText;
    }
    out << ComparisonSummary(comparison) << QString();
    for (const CompareRow& row : comparison.rows) {
        out << row.item.path + QStringLiteral("\tsetup ") + row.item.value + QStringLiteral("\treceiver ") +
                   Shown(row.receiver) + QLatin1Char('\t') + RowStateText(row);
    }
    if (!comparison.plan.uncompared.isEmpty()) {
        out << QString() << QStringLiteral("Commands of the script that are not compared:");
        out << comparison.plan.uncompared;
    }
    if (!comparison.dryRun.skipped.isEmpty()) {
        out << QString() << QStringLiteral("Commands the script skips on this receiver:");
        out << comparison.dryRun.skipped;
    }
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray ComparisonJson(const SetupComparison& comparison)
{
    QJsonArray rows;
    for (const CompareRow& row : comparison.rows) {
        QJsonObject o;
        o.insert(QStringLiteral("path"), row.item.path);
        o.insert(QStringLiteral("setup"), row.item.value);
        o.insert(QStringLiteral("receiver"), row.receiver.isNull() ? QJsonValue() : QJsonValue(row.receiver));
        o.insert(QStringLiteral("state"), RowStateWord(row.state));
        if (!row.error.isEmpty()) {
            o.insert(QStringLiteral("error"), row.error);
        }
        rows.append(o);
    }
    return QJsonDocument(rows).toJson(QJsonDocument::Indented);
}
