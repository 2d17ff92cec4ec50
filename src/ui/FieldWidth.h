#pragma once

class QLineEdit;
class QString;

// Makes `field` at least wide enough to show `longest` whole in the field's own font: a value wider than its
// field scrolls its first digits out of view, and the user reads another number.
void FitFieldToText(QLineEdit* field, const QString& longest);
