#pragma once

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <cmath>

// Checks of what a user with poor sight or a screen reader meets.

// The contrast of two colours as the web's accessibility guidelines define it: 1 (alike) to 21 (black on white).
inline double ContrastRatio(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A label's text as a name: no mnemonic marks, line breaks or trailing colon.
inline QString LabelName(QString text)
{
    text = text.remove(QLatin1Char('&')).simplified();
    while (text.endsWith(QLatin1Char(':'))) {
        text = text.chopped(1).trimmed();
    }
    return text;
}

// What a screen reader announces for a widget. A combo's name is its current text on some platforms; readers
// there announce the label that the "labelled by" relation gives (a group box's title comes after its own label).
inline QString AnnouncedName(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    if (!face) {
        return QString();
    }
    if (qobject_cast<QComboBox*>(widget)) {
        const auto labels = face->relations(QAccessible::Label);
        return labels.isEmpty() ? QString() : LabelName(labels.first().first->text(QAccessible::Name));
    }
    return face->text(QAccessible::Name);
}

// The fields under `root` (edits, combos, spin boxes) that are not announced by the text of a label beside them
// (a label of the same parent), each as "objectName: announced name". `count` gets the number of fields seen.
// Written apart from the program's own naming, so that a fault there is not repeated here.
inline QStringList FieldsNotNamedByTheirLabel(QWidget* root, int* count = nullptr)
{
    QStringList wrong;
    int seen = 0;
    for (QWidget* field : root->findChildren<QWidget*>()) {
        const bool typed = qobject_cast<QLineEdit*>(field) || qobject_cast<QComboBox*>(field) ||
                           qobject_cast<QAbstractSpinBox*>(field);
        QWidget* parent = field->parentWidget();
        if (!typed || !parent || qobject_cast<QComboBox*>(parent) || qobject_cast<QAbstractSpinBox*>(parent)) {
            continue;  // a combo's or spin box's own edit is announced with it
        }
        ++seen;
        const QString name = AnnouncedName(field);
        const auto labels = parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
        // The label's text, or the label's text and what part of it the field holds ("Lat degrees").
        const bool byLabel = !name.isEmpty() && std::any_of(labels.begin(), labels.end(), [&](const QLabel* label) {
            const QString text = LabelName(label->text());
            return !text.isEmpty() && (name == text || name.startsWith(text + QLatin1Char(' ')));
        });
        if (!byLabel) {
            wrong << field->objectName() + QStringLiteral(": \"") + name + QLatin1Char('"');
        }
    }
    if (count) {
        *count = seen;
    }
    return wrong;
}
