#pragma once

#include <QString>

#include <functional>
#include <span>

class CParamBatch;

// The receiver information report of the About box: one line per label; a label beginning with "-" is a separator
// written as it is, every other label takes the reply of the next print of the batch.
struct AboutReportLine
{
    const char16_t* label;
    const char* command;  // null for a separator
};

std::span<const AboutReportLine> AboutReportLines();

// "@scr stoperrors off\n", the print of every non-separator line followed by "\n", "@end\n".
QString AboutReportBatch();

// Slot i of the batch (0-based over the prints), or null when that print got no answer.
using ReportSlot = std::function<const QString*(int)>;

// Lines end with "\r\n"; a missing value reads "<unknown>".
QString BuildAboutReport(const ReportSlot& slot);
QString BuildAboutReport(const CParamBatch& batch);

// The report as the About box shows it: every label padded to the widest one, so that in a fixed-width font the
// values stand in one column; separators and line ends ("\n") as they are. The labels' own tabs and uneven
// endings ("...(b): ", "Wait states:\t ") would otherwise scatter the values over several tab stops.
QString AlignedAboutReport(const QString& report);

// The address the link control opens: one starting "www." (any case) gets "http://" in front.
QString AboutLinkUrl(const QString& address);
