#include "ui/FieldNames.h"

#include <QAbstractSpinBox>
#include <QBoxLayout>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <vector>

namespace {

struct LayoutStep
{
    QLayout* layout = nullptr;
    int index = -1;  // of the item that leads to the field
};

// The layouts from `layout` down to the one that holds `widget` as its own item; empty when none does.
bool PathToWidget(QLayout* layout, const QWidget* widget, std::vector<LayoutStep>* path)
{
    if (!layout) {
        return false;
    }
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        path->push_back({layout, i});
        if (item->widget() == widget || PathToWidget(item->layout(), widget, path)) {
            return true;
        }
        path->pop_back();
    }
    return false;
}

QLabel* LabelWidget(QLayoutItem* item)
{
    return item ? qobject_cast<QLabel*>(item->widget()) : nullptr;
}

bool HoldsField(QLayoutItem* item)
{
    return item && item->widget() && IsNamedByLabel(item->widget());
}

enum class Found { Label, None, LookOutside };

// The label before the item at `step` in its own layout: the form row's label, the nearest label to the left in a
// grid row or the label above in the first column, the label before it in a box. Fields in a row after one label
// (degrees, minutes, seconds; a count and its unit) all take that label; nothing before the item sends the search
// to the layout around.
Found LabelBefore(const LayoutStep& step, QLabel** label)
{
    if (auto* form = qobject_cast<QFormLayout*>(step.layout)) {
        QLayoutItem* item = step.layout->itemAt(step.index);
        QWidget* formLabel = item->widget() ? form->labelForField(item->widget()) : form->labelForField(item->layout());
        *label = qobject_cast<QLabel*>(formLabel);
        return *label ? Found::Label : Found::None;
    }
    if (auto* grid = qobject_cast<QGridLayout*>(step.layout)) {
        int row = 0;
        int column = 0;
        int rowSpan = 0;
        int columnSpan = 0;
        grid->getItemPosition(step.index, &row, &column, &rowSpan, &columnSpan);
        for (int c = column - 1; c >= 0; --c) {
            QLayoutItem* item = grid->itemAtPosition(row, c);
            if ((*label = LabelWidget(item))) {
                return Found::Label;
            }
        }
        if (column > 0) {
            return Found::None;
        }
        // Labels stand above their fields where side by side would be too wide for a handheld.
        if (row > 0 && (*label = LabelWidget(grid->itemAtPosition(row - 1, column)))) {
            return Found::Label;
        }
        return Found::LookOutside;
    }
    if (auto* box = qobject_cast<QBoxLayout*>(step.layout)) {
        if (step.index == 0) {
            return Found::LookOutside;
        }
        for (int i = step.index - 1; i >= 0; --i) {
            if ((*label = LabelWidget(box->itemAt(i)))) {
                return Found::Label;
            }
            if (!HoldsField(box->itemAt(i))) {
                return Found::None;
            }
        }
        return Found::None;
    }
    return Found::None;
}

void NameField(QWidget* widget)
{
    if (IsNamedByLabel(widget) && widget->accessibleName().isEmpty()) {
        if (QLabel* label = LabelOfField(widget)) {
            widget->setAccessibleName(FieldNameFromLabel(label->text()));
            // Where a platform announces a combo by its current text, readers take the label from the buddy.
            if (!label->buddy()) {
                label->setBuddy(widget);
            }
        }
    }
}

class CFieldNamer : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            // A window names all it holds; a field shown later (a page built after its window) names itself.
            if (widget->isWindow()) {
                NameFieldsByLabels(widget);
            } else {
                NameField(widget);
            }
        }
        return false;
    }
};

}  // namespace

QString FieldNameFromLabel(const QString& labelText)
{
    QString text = labelText;
    text.replace(QLatin1String("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    text = text.simplified();
    while (text.endsWith(QLatin1Char(':'))) {
        text.chop(1);
        text = text.trimmed();
    }
    return text;
}

bool IsNamedByLabel(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QComboBox*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget) || qobject_cast<const QPlainTextEdit*>(widget) ||
           qobject_cast<const QTextEdit*>(widget);
}

QLabel* LabelOfField(const QWidget* field)
{
    QWidget* parent = field->parentWidget();
    if (!parent) {
        return nullptr;
    }
    // A combo's own edit is announced with the combo.
    if (qobject_cast<QComboBox*>(parent) || qobject_cast<QAbstractSpinBox*>(parent)) {
        return nullptr;
    }
    for (QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->buddy() == field) {
            return label;
        }
    }
    std::vector<LayoutStep> path;
    if (!PathToWidget(parent->layout(), field, &path)) {
        return nullptr;
    }
    // A field in a row of its own (an edit with its spin buttons) takes the label of that row.
    for (auto step = path.rbegin(); step != path.rend(); ++step) {
        QLabel* label = nullptr;
        const Found found = LabelBefore(*step, &label);
        if (found == Found::Label) {
            return FieldNameFromLabel(label->text()).isEmpty() ? nullptr : label;
        }
        if (found == Found::None) {
            return nullptr;
        }
    }
    return nullptr;
}

void NameFieldsByLabels(QWidget* root)
{
    if (!root) {
        return;
    }
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        NameField(widget);
    }
}

void InstallFieldNames(QCoreApplication* app)
{
    const QString name = QStringLiteral("fieldNamer");
    if (!app || app->findChild<QObject*>(name, Qt::FindDirectChildrenOnly)) {
        return;
    }
    auto* namer = new CFieldNamer(app);
    namer->setObjectName(name);
    app->installEventFilter(namer);
}
