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

CPendingPage::CPendingPage(const QString& caption, QWidget* parent) : CConfigPage(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("The %1 parameters are not available yet.").arg(caption), this);
    label->setObjectName(QStringLiteral("pendingText"));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}
