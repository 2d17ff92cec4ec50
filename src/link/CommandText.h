#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Pieces of the command language the link needs to tag statements and to pair replies with them.

struct Statement
{
    QString text;      // the statement without its tag
    QString tag;       // the caller's identifier tag (without the percent signs)
    bool tagged = false;
    QString separator;  // "&&", ";" or empty after the last statement
};

// Splits a command line at "&&" and ";" outside double quotes and braces.
std::vector<Statement> SplitChain(const QString& line);

// The statement with the identifier tag `tag`; a trailing statement checksum "@HH" is computed anew.
QString TaggedStatement(const Statement& statement, const QString& tag);

struct CommandBatch
{
    QStringList lines;     // command lines in order
    bool scripted = false;  // an "@scr" batch
    bool stopOnErrors = false;
};

// Reads "@scr stoperrors [off]" ... "@end" batches, and plain text of one or more lines.
CommandBatch ParseCommandBatch(const QString& text);

// A reply frame's body split into its identifier tag and the rest; `tagged` false when it has none.
struct ReplyBody
{
    QByteArray tag;
    QByteArray rest;
    bool tagged = false;
};
ReplyBody SplitReplyBody(const QByteArray& body);

// The stream identifier of a message name: "RT" = "~~", "EE" = "||", "ET" = "::", "EV" = "==", others as written.
QByteArray KvsStreamId(const QString& name);
// The message name of a stream identifier, the other way round: "~~" = "RT", and so on.
QString KvsMessageName(const QByteArray& id);

// A frame with the given identifier and body; bodies longer than a frame can hold are cut.
QByteArray BuildFrame(const char id[2], const QByteArray& body);
