#pragma once

#include "logging/LogEngine.h"

#include <QString>
#include <QStringList>

#include <vector>

// One row of the logging dialog's message table.
struct LogMessageEntry
{
    QString id;  // at most kMaxIdLength characters
    bool use = false;
    QString description;  // at most kMaxDescriptionLength characters
};

constexpr int kMaxIdLength = 7;
constexpr int kMaxDescriptionLength = 69;
// More selected messages than this are refused ("Messages > 48!!!"): the receiver's output table is full.
constexpr int kMaxSelectedMessages = 45;
// The longest statement sent for a selection; a receiver accepts a few hundred characters a line.
constexpr int kMaxEmLength = 200;

// The identifiers of a "list,/msg/<type>" reply value ("{PG,PV,DP}"); none when the braces are missing. RTCM
// identifiers that begin with "0" come back empty, as the table stores them.
QStringList ParseMessageList(const QString& value, LogType type);

// Marks the entries named in a saved selection: "ALL" marks all, otherwise ",ID," marks ID.
void ApplySavedSelection(std::vector<LogMessageEntry>& entries, const QString& saved);
// The saved form of the marked entries: "," then each identifier and ","; "," when none is marked.
QString SavedSelection(const std::vector<LogMessageEntry>& entries);

// The description of `id` in the section of `type` ("kvs", "cmr", "nmea", "rtcm") of the message catalogue
// (lines ended by CR LF or LF alone); empty when the section or the line is missing.
QString CatalogueDescription(const QByteArray& catalogue, LogType type, const QString& id);

// The message catalogue: "comment.txt" in `programFolder` when it exists, else the built-in one.
QByteArray LoadCatalogue(const QString& programFolder);

// The identifiers a recording asks for: the marked ones without those the recording adds itself.
QStringList SelectedMessages(const std::vector<LogMessageEntry>& entries);

// "em" statements enabling `ids` of `type` at `interval` on the current port, several when one line would be
// longer than `maxLength`.
QStringList EmStatements(LogType type, const QStringList& ids, const QString& interval, int maxLength = kMaxEmLength);
