#pragma once

// Small pieces the pages of the sheet share: named controls, labelled rows, and an edit's set step.

#include "config/Toolkit.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QVBoxLayout>

#include <array>
#include <functional>
#include <vector>

class QComboBox;
class QGroupBox;

template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Load routines that also say whether the receiver reported the value: an edit or a check box that the reply
// had a line for, radios or a combo that the reply's value selected.
bool LoadEditReported(const QString* value, QLineEdit* edit, QWidget* companion, bool enable);
bool LoadCheckReported(const QString* value, QCheckBox* box);
bool LoadRadioReported(const QString* value, const RadioList& radios, const QStringList& values);
bool LoadComboReported(const QString* value, const QStringList& values, QComboBox* combo, const QStringList& labels,
                       QWidget* companion);

// Gives a page its content layout. The sheet puts every page into one scroll area of its own; a second one inside
// the page would cut the page off sideways on a handheld instead of letting the sheet scroll to it.
template <typename Layout>
Layout* AddPageContent(QWidget* page)
{
    auto* layout = new Layout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    return layout;
}

// A value the receiver reports and the user cannot change. A disabled edit would draw it grey on grey; this one stays
// enabled while it shows a value, keeps the window's text colours and takes the window's background, so that it is
// readable and does not look editable.
void MakeDisplay(QLineEdit* edit);

// A label and an edit in the next row of a grid; the label is named `name` + "Label".
QLineEdit* AddEditRow(QGridLayout* grid, const QString& caption, const char* name, QLabel** label = nullptr);

// Sends an edit's text with SetEditParam. An enabled edit left empty sends nothing: an empty value would clear
// the parameter or be refused, so the step fails as invalid ("Can't set X" becomes "Invalid X"). Returns the
// error text, empty on success.
QString SendEditStep(const QString& path, QLineEdit* edit, bool quoted, const QString& refusal);

// A whole number / a decimal number as "%d" / "%f" would read it, but only when the whole text is one: text that
// is no number is out of every range rather than whatever a scan left behind.
bool ReadInt(const QLineEdit* edit, int* value);
bool ReadFloat(const QLineEdit* edit, float* value);

// The datum dialog for the datum selected in `datum`: `runner` stands in for it when set (tests). True when the
// user picked another entry of the combo, which is then selected.
using DatumDialogRunner = std::function<int(const QString& code, QWidget* parent)>;
bool RunDatumDialog(QComboBox* datum, const DatumDialogRunner& runner, QWidget* parent);

// The positioning mode (sp, cd, wd, pf, pd) and the solutions it may use (sp, cd, pf, pd), shown alike on the
// Rover and the Positioning pages. `errors` are the page's refusal texts, the mode's first.
using SolutionChecks = std::array<QCheckBox*, 4>;
// The "Enable Solutions" box of those pages, its boxes put into `checks`.
QGroupBox* MakeSolutionBox(QWidget* parent, SolutionChecks* checks);
// Radio buttons stacked in `box`, each named for tests and automation; a click on any of them runs `clicked`
// (with `context` as its receiver).
RadioList AddRadioButtons(QGroupBox* box, const QStringList& texts, const std::vector<const char*>& names,
                          QObject* context, const std::function<void()>& clicked);
// A receiver that does not report the fixed solution's switch always uses it: the box stays checked.
void LoadModeAndSolutions(const QString* mode, const std::array<const QString*, 4>& solutions, const RadioList& modes,
                          const SolutionChecks& boxes);
QString ApplyModeAndSolutions(const RadioList& modes, const SolutionChecks& boxes,
                              const std::array<const char*, 5>& errors);
void WriteModeAndSolutions(const RadioList& modes, const SolutionChecks& boxes);
