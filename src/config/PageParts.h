#pragma once

// Small pieces the pages of the sheet share: named controls, labelled rows, and an edit's set step.

#include "config/Toolkit.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QString>

template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

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
