#include "manual/SetupValues.h"

#include "config/ports/PortTables.h"
#include "link/CommandText.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int kMaxDepth = 16;

struct Node
{
    enum class Kind { Plain, Quoted, List };
    Kind kind = Kind::Plain;
    QString text;  // Plain: trimmed; Quoted: without the quotes
    std::vector<Node> items;
};

// The items of `text` at its top level: split at commas outside braces and double quotes. False when the braces
// do not balance.
bool SplitItems(QStringView text, std::vector<QStringView>* items)
{
    int depth = 0;
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (quoted) {
            continue;
        } else if (c == QLatin1Char('{')) {
            ++depth;
        } else if (c == QLatin1Char('}')) {
            if (--depth < 0) {
                return false;
            }
        } else if (c == QLatin1Char(',') && depth == 0) {
            items->push_back(text.mid(start, i - start));
            start = i + 1;
        }
    }
    items->push_back(text.mid(start));
    return depth == 0 && !quoted;
}

// Whether the braces at both ends of `text` enclose all of it ("{a},{b}" is a list of two, not one).
bool EnclosedInBraces(QStringView text)
{
    if (text.size() < 2 || text.front() != QLatin1Char('{') || text.back() != QLatin1Char('}')) {
        return false;
    }
    int depth = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size() - 1; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('{')) {
            ++depth;
        } else if (!quoted && c == QLatin1Char('}') && --depth == 0) {
            return false;
        }
    }
    return true;
}

Node Parse(QStringView text, int depth)
{
    text = text.trimmed();
    Node node;
    std::vector<QStringView> items;
    const bool braced = EnclosedInBraces(text);
    const QStringView inner = braced ? text.mid(1, text.size() - 2) : text;
    if (depth < kMaxDepth && (braced || inner.contains(QLatin1Char(','))) && SplitItems(inner, &items)) {
        node.kind = Node::Kind::List;
        // "{}" has no item, not one empty one.
        if (items.size() == 1 && items.front().trimmed().isEmpty()) {
            return node;
        }
        for (QStringView item : items) {
            node.items.push_back(Parse(item, depth + 1));
        }
        return node;
    }
    if (text.size() >= 2 && text.front() == QLatin1Char('"') && text.back() == QLatin1Char('"')) {
        node.kind = Node::Kind::Quoted;
        node.text = text.mid(1, text.size() - 2).toString();
        return node;
    }
    node.text = text.toString();
    return node;
}

bool Same(const Node& a, const Node& b, bool top)
{
    const bool aList = a.kind == Node::Kind::List;
    const bool bList = b.kind == Node::Kind::List;
    if (aList && bList) {
        if (a.items.size() != b.items.size()) {
            return false;
        }
        for (size_t i = 0; i < a.items.size(); ++i) {
            if (!Same(a.items[i], b.items[i], false)) {
                return false;
            }
        }
        return true;
    }
    // A value set as a one-item list reads back as the item; inside a list braces are structure.
    if ((aList || bList) && top) {
        const Node& list = aList ? a : b;
        const Node& other = aList ? b : a;
        if (list.items.empty()) {
            return other.text.isEmpty();
        }
        return list.items.size() == 1 && Same(list.items.front(), other, false);
    }
    if (aList || bList) {
        return false;
    }
    if (a.kind == Node::Kind::Quoted || b.kind == Node::Kind::Quoted) {
        return a.text == b.text;
    }
    const QString x = CanonicalDecimal(a.text);
    const QString y = CanonicalDecimal(b.text);
    if (!x.isNull() && !y.isNull()) {
        return x == y;
    }
    return a.text.compare(b.text, Qt::CaseInsensitive) == 0;
}

bool IsDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// "kvs/PG:{1.00}" -> name "kvs/PG" and options "{1.00}"; the name without "/msg/" and with stream ids named.
void SplitMessage(const QString& item, QString* name, QString* options)
{
    const qsizetype colon = item.indexOf(QLatin1Char(':'));
    *name = (colon < 0 ? item : item.left(colon)).trimmed();
    *options = colon < 0 ? QString() : item.mid(colon + 1).trimmed();
    if (name->startsWith(QLatin1String("/msg/"), Qt::CaseInsensitive)) {
        *name = name->mid(5);
    }
    const qsizetype slash = name->lastIndexOf(QLatin1Char('/'));
    if (slash >= 0) {
        *name = name->left(slash + 1) + KvsMessageName(name->mid(slash + 1).toLatin1());
    }
}

// A message's options as a list: "{1.00,0}" and "1.00" alike.
std::vector<Node> OptionItems(const QString& options)
{
    Node node = Parse(options, 0);
    if (node.kind == Node::Kind::List) {
        return std::move(node.items);
    }
    if (node.text.isEmpty()) {
        return {};
    }
    return {std::move(node)};
}

struct Message
{
    QString name;
    std::vector<Node> options;
};

Message ReadMessage(const QString& item)
{
    Message m;
    QString options;
    SplitMessage(item, &m.name, &options);
    m.options = OptionItems(options);
    return m;
}

// The setup's options begin the receiver's, which may add the fields the setup left at their defaults.
bool OptionsBegin(const std::vector<Node>& setup, const std::vector<Node>& receiver)
{
    if (setup.size() > receiver.size()) {
        return false;
    }
    for (size_t i = 0; i < setup.size(); ++i) {
        if (!Same(setup[i], receiver[i], false)) {
            return false;
        }
    }
    return true;
}

}  // namespace

QString CanonicalDecimal(const QString& text)
{
    QStringView s = QStringView(text).trimmed();
    bool negative = false;
    if (!s.isEmpty() && (s.front() == QLatin1Char('+') || s.front() == QLatin1Char('-'))) {
        negative = s.front() == QLatin1Char('-');
        s = s.mid(1);
    }
    const qsizetype point = s.indexOf(QLatin1Char('.'));
    QStringView whole = point < 0 ? s : s.left(point);
    QStringView fraction = point < 0 ? QStringView() : s.mid(point + 1);
    if (whole.isEmpty() && fraction.isEmpty()) {
        return {};
    }
    for (QStringView part : {whole, fraction}) {
        for (QChar c : part) {
            if (!IsDigit(c)) {
                return {};
            }
        }
    }
    while (!whole.isEmpty() && whole.front() == QLatin1Char('0')) {
        whole = whole.mid(1);
    }
    while (!fraction.isEmpty() && fraction.back() == QLatin1Char('0')) {
        fraction.chop(1);
    }
    if (whole.isEmpty() && fraction.isEmpty()) {
        return QStringLiteral("0");
    }
    QString out = negative ? QStringLiteral("-") : QString();
    out += whole.isEmpty() ? QStringLiteral("0") : whole.toString();
    if (!fraction.isEmpty()) {
        out += QLatin1Char('.') + fraction.toString();
    }
    return out;
}

bool SameSetupValue(const QString& setup, const QString& receiver)
{
    return Same(Parse(setup, 0), Parse(receiver, 0), true);
}

bool SameMessages(const QStringList& setup, const QStringList& receiver, bool exact)
{
    std::vector<Message> theirs;
    for (const QString& item : receiver) {
        theirs.push_back(ReadMessage(item));
    }
    std::vector<bool> matched(theirs.size(), false);
    for (const QString& item : setup) {
        const Message mine = ReadMessage(item);
        bool found = false;
        for (size_t i = 0; i < theirs.size() && !found; ++i) {
            if (!matched[i] && mine.name.compare(theirs[i].name, Qt::CaseInsensitive) == 0 &&
                OptionsBegin(mine.options, theirs[i].options)) {
                matched[i] = true;
                found = true;
            }
        }
        if (!found) {
            return false;
        }
    }
    return !exact || std::all_of(matched.begin(), matched.end(), [](bool m) { return m; });
}

bool ReadPortMessageItems(const QString& value, QStringList* items)
{
    constexpr int kMaxMessages = 256;
    std::vector<PortMessage> messages;
    int count = 0;
    items->clear();
    if (!ParsePortMessages(value, &messages, &count, kMaxMessages) || count != int(messages.size())) {
        return false;
    }
    for (const PortMessage& message : messages) {
        *items << message.name + QStringLiteral(":{") + message.params + QLatin1Char('}');
    }
    return true;
}
