#pragma once

#include <QString>

class QCoreApplication;
class QLabel;
class QWidget;

// Screen readers and automation announce a field by its accessible name. Without one, Qt falls back to the title
// of the group box around it, so that every field of a box reads alike ("Antenna"). These give each field the text
// of the label that stands for it: its buddy, its form row's label, or the label before it in its row.

// The text a label shows, as a name: no mnemonic marks, line breaks or trailing colon ("Elv. mask(d): " gives
// "Elv. mask(d)").
QString FieldNameFromLabel(const QString& labelText);

// The label that stands for `field`, or null when none does.
QLabel* LabelOfField(const QWidget* field);

// Whether `widget` is a field a user types into or chooses from (an edit, a combo, a spin box), which has no text
// of its own to be announced by.
bool IsNamedByLabel(const QWidget* widget);

// Names every field in `root` that has no accessible name yet; a field without a label is left as it is.
void NameFieldsByLabels(QWidget* root);

// Names the fields of every window of the program as it is shown, present and future, so that no dialog needs code
// of its own. Idempotent.
void InstallFieldNames(QCoreApplication* app);
