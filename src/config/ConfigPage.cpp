#include "config/ConfigPage.h"

#include "config/ConfigGlobals.h"

#include <QLabel>
#include <QVBoxLayout>

CConfigPage::CConfigPage(QWidget* parent) : QWidget(parent) {}

void CConfigPage::MarkChanged()
{
    m_bChanged = true;
    if (g_configSheet) {
        g_configSheet->EnableApply(true);
    }
}

void RequeryLinkedPage(CConfigPage* page)
{
    if (!page || !page->m_bQueried || page->m_bChanged) {
        return;
    }
    page->QuerySettings();
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
