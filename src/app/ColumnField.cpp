#include "app/ColumnField.h"

#include "app/StatusLegend.h"
#include "ui/SteadyLabel.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

CColumnField::CColumnField(const QString& name, const QStringList& keys, QGridLayout* grid, int firstRow,
                           QWidget* parent, const QString& widest)
    : QObject(parent), m_keys(keys)
{
    setObjectName(name);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // "Target Lat" and "Geo Lat" are different values: a reader of the value hears its box with its key.
    const auto* box = qobject_cast<QGroupBox*>(parent);
    const QString prefix = box ? box->title() + QLatin1Char(' ') : QString();
    for (int i = 0; i < int(keys.size()); ++i) {
        auto* key = new QLabel(keys[i], parent);
        key->setFont(fixed);
        key->setToolTip(FieldTip(keys[i]));
        auto* value = new CSteadyLabel(parent);
        value->setObjectName(name + QString::number(i));
        value->setFont(fixed);
        value->setToolTip(key->toolTip());
        value->setAccessibleName(prefix + QString(keys[i]).remove(QLatin1Char(':')));
        // Right-aligned in a fixed-width font: degrees, decimal points and hemisphere letters line up.
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->Reserve(widest);
        grid->addWidget(key, firstRow + i, 0);
        grid->addWidget(value, firstRow + i, 1, Qt::AlignRight);
        m_values.push_back(value);
    }
}

void CColumnField::SetText(const QString& text)
{
    if (text == m_text) {
        return;
    }
    m_text = text;
    std::vector<QString> shown(m_values.size());
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const QString key = line.left(colon + 1).trimmed();
        const qsizetype row = colon < 0 ? -1 : m_keys.indexOf(key);
        if (row >= 0) {
            shown[size_t(row)] = line.mid(colon + 1).trimmed();
        }
    }
    for (size_t i = 0; i < m_values.size(); ++i) {
        m_values[i]->SetText(shown[i]);
    }
}

QLabel* CColumnField::ValueLabel(int row) const
{
    return m_values[size_t(row)];
}

QString CColumnField::Value(int row) const
{
    return row >= 0 && row < int(m_values.size()) ? m_values[size_t(row)]->text() : QString();
}
