#include "config/ports/Ports.h"

#include "config/ConfigGlobals.h"
#include "config/ports/BLT.h"
#include "config/ports/CAN.h"
#include "config/ports/Ethernet.h"
#include "config/ports/GSM.h"
#include "config/ports/Serial.h"
#include "config/ports/TCP.h"
#include "config/ports/USB.h"
#include "config/ports/WIFI.h"

#include <QTabWidget>
#include <QVBoxLayout>

QStringList CPorts::Captions()
{
    return {"Serial", "USB", "Ethernet", "TCP", "CAN", "BLT", "WIFI", "GSM"};
}

CPorts::CPorts(QWidget* parent) : CConfigPage(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("portTabs"));
    m_tabs->setUsesScrollButtons(true);
    layout->addWidget(m_tabs);

    const QString model = g_configSheet ? g_configSheet->Model() : QString();
    auto* serial = new CSerial;
    auto* usb = new CUSB;
    auto* ethernet = new CEthernet;
    auto* tcp = new CTCP;
    auto* can = new CCAN;
    auto* blt = new CBLT;
    auto* wifi = new CWIFI;
    auto* gsm = new CGSM(model);
    m_pages = {serial, usb, ethernet, tcp, can, blt, wifi, gsm};
    auto changed = [this] { MarkChanged(); };
    connect(serial, &CSerial::Changed, this, changed);
    connect(usb, &CUSB::Changed, this, changed);
    connect(ethernet, &CEthernet::Changed, this, changed);
    connect(tcp, &CTCP::Changed, this, changed);
    connect(can, &CCAN::Changed, this, changed);
    connect(blt, &CBLT::Changed, this, changed);
    connect(wifi, &CWIFI::Changed, this, changed);
    connect(gsm, &CGSM::Changed, this, changed);
    const char* names[] = {"serialPage", "usbPage", "ethernetPage", "tcpPage",
                           "canPage",    "bltPage", "wifiPage",     "gsmPage"};
    const QStringList captions = Captions();
    for (int i = 0; i < kPages; ++i) {
        m_pages[size_t(i)]->setObjectName(QLatin1String(names[i]));
        m_tabs->addTab(m_pages[size_t(i)], captions[i]);
    }
    m_tabs->setCurrentIndex(0);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CPorts::OnInnerChanged);
}

int CPorts::CurrentInner() const
{
    return m_tabs->currentIndex();
}

void CPorts::SelectInner(int index)
{
    m_tabs->setCurrentIndex(index);
}

void CPorts::OnInnerChanged()
{
    if (g_configSheet && CurrentInner() >= 0) {
        g_configSheet->EnableApply(m_pages[size_t(CurrentInner())]->m_bChanged);
    }
}

void CPorts::showEvent(QShowEvent* event)
{
    CConfigPage::showEvent(event);
    OnInnerChanged();
}

void CPorts::QuerySettings()
{
    // Serial first: it learns the controller's own port, which the later pages keep away from. A page that can't
    // be read makes the whole page unread; the pages after it are not tried (a lost link would make each wait).
    for (CConfigPage* page : m_pages) {
        page->m_bQueried = page->Query();
        page->m_bChanged = false;
        if (!page->m_bQueried) {
            QueryFailed(page->QueryError());
            return;
        }
    }
}

QString CPorts::ApplySettings()
{
    for (int i = 0; i < kPages; ++i) {
        CConfigPage* page = m_pages[size_t(i)];
        if (!page->m_bChanged) {
            continue;
        }
        if (g_configSheet) {
            g_configSheet->SetStatusText(QString());
        }
        const QString error = page->ApplySettings();
        if (!error.isEmpty()) {
            SelectInner(i);
            return error;
        }
        page->m_bChanged = false;
    }
    return QString();
}

void CPorts::WriteScript()
{
    for (CConfigPage* page : m_pages) {
        page->WriteScript();
    }
}
