#include "config/ConfigPage.h"

#include "config/ConfigGlobals.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

CConfigPage::CConfigPage(QWidget* parent) : QWidget(parent) {}

void CConfigPage::MarkChanged()
{
    m_bChanged = true;
    if (g_configSheet) {
        g_configSheet->EnableApply(true);
    }
}

namespace {

// The controls of a page, its labels and its own tab bars included; the strips of inner pages stay usable, so
// that the user can still look at them.
bool IsPageControl(const QWidget* w)
{
    if (qobject_cast<const QTabBar*>(w->parentWidget())) {
        return false;  // a tab bar's scroll arrows
    }
    if (const auto* bar = qobject_cast<const QTabBar*>(w)) {
        return !qobject_cast<const QTabWidget*>(bar->parentWidget());
    }
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QLabel*>(w);
}

}  // namespace

bool CConfigPage::Query()
{
    for (const QPointer<QWidget>& w : m_disabledByFailure) {
        if (w) {
            w->setEnabled(true);
        }
    }
    m_disabledByFailure.clear();
    m_queryError.clear();
    QuerySettings();
    return m_queryError.isEmpty();
}

void CConfigPage::QueryFailed(const QString& reason)
{
    if (m_queryError.isEmpty()) {
        m_queryError = reason.isEmpty() ? QStringLiteral("Link lost") : reason;
    }
    for (QWidget* w : findChildren<QWidget*>()) {
        if (!w->testAttribute(Qt::WA_Disabled) && IsPageControl(w)) {
            w->setEnabled(false);
            m_disabledByFailure.emplace_back(w);
        }
    }
}

QString QueryFailureText(const QString& reason)
{
    return QStringLiteral("Can't read the receiver's settings: ") + reason;
}

void RequeryLinkedPage(CConfigPage* page)
{
    if (!page || !page->m_bQueried || page->m_bChanged) {
        return;
    }
    // A page that can't be read is read again when it is next shown.
    page->m_bQueried = page->Query();
    page->m_bChanged = false;
}

CPendingPage::CPendingPage(const QString& caption, QWidget* parent) : CConfigPage(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("The %1 parameters are not available yet.").arg(caption), this);
    label->setObjectName(QStringLiteral("pendingText"));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}
