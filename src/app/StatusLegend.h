#pragma once

#include <QColor>
#include <QString>

// What the status texts of the main view mean, for tooltips and the legend of the Help menu. The texts themselves
// stay as the receiver state writes them; this only explains and colours them.

enum class SolutionKind { Unknown, NoData, None, Standalone, Dgps, Float, Fixed };

// What the solution field reads before the first position since connecting (or since the last status reset).
inline constexpr char kNoDataText[] = "No data";

// The kind of a solution text ("(RTK fixed)", "(no solution)", "No data", ...).
SolutionKind SolutionKindOf(const QString& text);

// Colours that keep their contrast in sunlight on a handheld: saturated backgrounds, black or white text.
struct SolutionLook
{
    QColor background;  // invalid: the window's own
    QColor text;
    QString tip;
};
SolutionLook SolutionLookOf(SolutionKind kind);

// The tooltip of a satellite list's column (`list` and `column` as in ReceiverState.h), marks included.
QString SatColumnTip(int list, int column);
QString SatSummaryTip();
// What a key of the Location page or a status field means ("ETT:", "PDOP:", "LQ:", ...), empty for none known.
QString FieldTip(const QString& key);

// The legend of the Help menu, as rich text.
QString StatusLegendText();
