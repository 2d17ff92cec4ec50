#include "config/tracking/Advanced.h"

#include "config/ConfigGlobals.h"
#include "config/tracking/ExternalFrequency.h"
#include "config/tracking/TrackingPages.h"
#include "link/ParamBatch.h"

#include <QTabWidget>
#include <QVBoxLayout>

namespace {

const QString kQuery = QStringLiteral(
    "@scr stoperrors off\nprint,/par/ajm/mode\nprint,/par/raw/corr/ca/code\nprint,/par/raw/corr/ca/carrier\n"
    "print,/par/raw/pll/band\nprint,/par/raw/pll/order\nprint,/par/ajm/band\nprint,/par/raw/cagdl/band\n"
    "print,/par/raw/gdl/adapt\nprint,/par/lock/pcode\nprint,/par/frq/mode\nprint,/par/frq/in/frq\n"
    "print,/par/frq/in/status\nprint,/par/frq/in/amp\nprint,/par/osc/mode\nprint,/par/raw/msint\n"
    "print,/par/raw/curmsint\nprint,/par/pos/msint\nprint,/par/pos/curmsint\nprint,/par/raw/smi\n"
    "print,/par/raw/dopp/smi\nprint,/par/raw/iono/smi\nprint,/par/raw/iono/minsmi\nprint,/par/frq/out/frq\n@end\n");

}  // namespace

const QString* CTrackingPage::Reply(int i) const
{
    const CParamBatch* replies = m_advanced ? m_advanced->Replies() : nullptr;
    return replies ? replies->Value(i) : nullptr;
}

CAdvanced::CAdvanced(QWidget* parent) : CConfigPage(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("trackingTabs"));
    m_tabs->setUsesScrollButtons(true);
    layout->addWidget(m_tabs);
    m_pages = {new CAntiInterference(this), new CMultipath(this), new CLoopManagement(this),
               new CExternalFrequency(this), new CRawData(this)};
    const QStringList captions{"Anti-Interference", "Multipath Reduction", "Loop Mng.", "Ext.Frequency",
                               "Raw Data Management"};
    const char* names[] = {"antiInterference", "multipath", "loopManagement", "extFrequency", "rawData"};
    for (size_t i = 0; i < m_pages.size(); ++i) {
        m_pages[i]->setObjectName(QLatin1String(names[i]));
        m_tabs->addTab(m_pages[i], captions[int(i)]);
        connect(m_pages[i], &CTrackingPage::Edited, this, [this] { m_bChanged = true; });
    }
    connect(m_tabs, &QTabWidget::currentChanged, this, &CAdvanced::OnInnerTabChanged);
}

int CAdvanced::ShownSubPage() const
{
    return m_tabs->currentIndex();
}

void CAdvanced::ShowSubPage(int index)
{
    m_tabs->setCurrentIndex(index);
}

void CAdvanced::OnInnerTabChanged(int index)
{
    if (index < 0 || index >= kSubPageCount) {
        return;
    }
    if (g_configSheet) {
        g_configSheet->EnableApply(m_pages[size_t(index)]->m_bChanged);
        g_configSheet->SetStatusText(QString());
    }
}

void CAdvanced::QuerySettings()
{
    CParamBatch batch;
    if (!batch.Run(kQuery)) {
        QueryFailed(batch.FailureText());
        return;
    }
    m_replies = &batch;
    for (CTrackingPage* page : m_pages) {
        page->QuerySettings();
        page->m_bChanged = false;
    }
    m_replies = nullptr;
}

QString CAdvanced::ApplySettings()
{
    for (size_t i = 0; i < m_pages.size(); ++i) {
        CTrackingPage* page = m_pages[i];
        if (!page->m_bChanged) {
            continue;
        }
        const QString error = page->ApplySettings();
        if (!error.isEmpty()) {
            ShowSubPage(int(i));
            return error;
        }
        page->m_bChanged = false;
    }
    return QString();
}

void CAdvanced::WriteScript()
{
    for (CTrackingPage* page : m_pages) {
        page->WriteScript();
    }
}

void CAdvanced::WriteLeadingScript()
{
    static_cast<CRawData*>(m_pages[4])->WriteUpdateRates();
}

void CAdvanced::SheetClosing()
{
    for (CTrackingPage* page : m_pages) {
        page->Stop();
    }
}
