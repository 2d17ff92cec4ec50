#include "config/SpinEdit.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

CSpinButtons::CSpinButtons(QLineEdit* edit, QWidget* parent) : QWidget(parent), m_edit(edit)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_up = new QToolButton(this);
    m_up->setObjectName(QStringLiteral("spinUp"));
    m_up->setArrowType(Qt::UpArrow);
    m_down = new QToolButton(this);
    m_down->setObjectName(QStringLiteral("spinDown"));
    m_down->setArrowType(Qt::DownArrow);
    layout->addWidget(m_up);
    layout->addWidget(m_down);
    connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void CSpinButtons::SetRange(int low, int high)
{
    m_low = low;
    m_high = std::max(low, high);
}

void CSpinButtons::Step(int delta)
{
    bool ok = false;
    const int current = m_edit->text().trimmed().toInt(&ok);
    int next = 0;
    if (!ok || current < m_low || current > m_high) {
        next = ok && current > m_high ? m_high : m_low;
    } else {
        next = std::clamp(current + delta, m_low, m_high);
    }
    const QString text = QString::number(next);
    if (text != m_edit->text()) {
        m_edit->setText(text);
        emit Stepped();
    }
}
