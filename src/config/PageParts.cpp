#include "config/PageParts.h"

QLineEdit* AddEditRow(QGridLayout* grid, const QString& caption, const char* name, QLabel** label)
{
    const int row = grid->rowCount();
    auto* l = new QLabel(caption);
    l->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    grid->addWidget(l, row, 0);
    grid->addWidget(edit, row, 1);
    if (label) {
        *label = l;
    }
    return edit;
}

QString SendEditStep(const QString& path, QLineEdit* edit, bool quoted, const QString& refusal)
{
    if (edit->isEnabled() && !quoted && edit->text().trimmed().isEmpty()) {
        edit->setFocus(Qt::OtherFocusReason);
        return InvalidValueText(refusal);
    }
    return SetEditParam(path, edit, quoted) ? QString() : refusal;
}

bool ReadInt(const QLineEdit* edit, int* value)
{
    if (!IsIntegerText(edit->text())) {
        return false;
    }
    *value = edit->text().trimmed().toInt();
    return true;
}

bool ReadFloat(const QLineEdit* edit, float* value)
{
    if (!IsNumberText(edit->text())) {
        return false;
    }
    bool ok = false;
    *value = edit->text().trimmed().toFloat(&ok);
    return ok;
}
