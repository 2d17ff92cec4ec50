#include "config/ReceiverCfgDlg.h"

#include "config/Base.h"
#include "config/ConfigPage.h"
#include "config/EVent.h"
#include "config/General.h"
#include "config/Position.h"
#include "config/Rover.h"
#include "config/Tovel.h"
#include "config/tracking/Advanced.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "ui/Prompts.h"
#include "ui/WaitBox.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

Q_LOGGING_CATEGORY(lcConfig, "nemola.config")

namespace {

// Holds the tab area and moves it sideways, so that pages wider than a narrow screen can be reached.
class CSideViewport : public QWidget
{
public:
    CSideViewport(QWidget* content, QWidget* parent) : QWidget(parent), m_content(content)
    {
        m_content->setParent(this);
    }

    void SetOffset(int offset)
    {
        m_offset = offset;
        Place();
    }

    // How far the content reaches past the right edge.
    int Overflow() const { return std::max(0, ContentWidth() - width()); }

    QSize sizeHint() const override { return m_content->sizeHint(); }
    QSize minimumSizeHint() const override { return QSize(160, m_content->minimumSizeHint().height()); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        Place();
    }

private:
    // Pages are laid out for the handheld's 480-pixel screen; narrower windows scroll to reach their right side.
    static constexpr int kPageWidth = 440;

    int ContentWidth() const { return std::max({width(), m_content->minimumSizeHint().width(), kPageWidth}); }

    void Place()
    {
        const int offset = std::clamp(m_offset, 0, Overflow());
        m_content->setGeometry(-offset, 0, ContentWidth(), height());
    }

    QWidget* m_content;
    int m_offset = 0;
};

QPushButton* MakeButton(const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

QStringList CReceiverCfgDlg::Captions()
{
    return {"General", "Tovel", "Positioning", "Base", "Rover", "Ports", "Event", "Advanced"};
}

QString CReceiverCfgDlg::WaitText()
{
    return QStringLiteral("Please, wait while Nemola is querying receiver\n parameters");
}

QString CReceiverCfgDlg::InitQuestion()
{
    return QStringLiteral("The receiver parameters will be initialized.\n");
}

QString CReceiverCfgDlg::UnappliedText()
{
    return QStringLiteral(
        "One or more parameter were changed but not applied.\nPlease apply the changes to be sure that\nthe receiver "
        "accepts current settings.");
}

CReceiverCfgDlg::CReceiverCfgDlg(ConfigSheetContext context, QWidget* parent)
    : QDialog(parent), m_context(std::move(context))
{
    setObjectName(QStringLiteral("receiverConfig"));
    setWindowTitle(QStringLiteral("Receiver configuration"));
    g_configSheet = this;

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(4, 4, 4, 4);
    m_body = new QWidget(this);
    m_body->setObjectName(QStringLiteral("sheetBody"));
    root->addWidget(m_body);

    auto* layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("pages"));
    m_tabs->setUsesScrollButtons(true);
    m_viewport = new CSideViewport(m_tabs, m_body);
    m_viewport->setObjectName(QStringLiteral("pageArea"));
    layout->addWidget(m_viewport, 1);

    m_status = new QLabel(m_body);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setWordWrap(true);
    m_status->hide();
    layout->addWidget(m_status);

    m_scroll = new QScrollBar(Qt::Horizontal, m_body);
    m_scroll->setObjectName(QStringLiteral("sideScroll"));
    m_scroll->setRange(0, 0);
    layout->addWidget(m_scroll);

    auto* buttons = new QGridLayout;
    m_apply = MakeButton(QStringLiteral("Apply"), "applyButton", m_body);
    m_apply->setEnabled(false);
    buttons->addWidget(MakeButton(QStringLiteral("OK"), "okButton", m_body), 0, 0);
    buttons->addWidget(MakeButton(QStringLiteral("Exit"), "exitButton", m_body), 0, 1);
    buttons->addWidget(MakeButton(QStringLiteral("Save"), "saveButton", m_body), 0, 2);
    buttons->addWidget(MakeButton(QStringLiteral("Refresh"), "refreshButton", m_body), 1, 0);
    buttons->addWidget(m_apply, 1, 1);
    buttons->addWidget(MakeButton(QStringLiteral("Set to defaults"), "defaultsButton", m_body), 1, 2);
    layout->addLayout(buttons);

    connect(findChild<QPushButton*>(QStringLiteral("okButton")), &QPushButton::clicked, this, &CReceiverCfgDlg::Ok);
    connect(findChild<QPushButton*>(QStringLiteral("exitButton")), &QPushButton::clicked, this, &CReceiverCfgDlg::Exit);
    connect(findChild<QPushButton*>(QStringLiteral("saveButton")), &QPushButton::clicked, this, &CReceiverCfgDlg::Save);
    connect(findChild<QPushButton*>(QStringLiteral("refreshButton")), &QPushButton::clicked, this,
            &CReceiverCfgDlg::Refresh);
    connect(m_apply, &QPushButton::clicked, this, &CReceiverCfgDlg::Apply);
    connect(findChild<QPushButton*>(QStringLiteral("defaultsButton")), &QPushButton::clicked, this,
            &CReceiverCfgDlg::SetToDefaults);
    connect(m_scroll, &QScrollBar::valueChanged, this, &CReceiverCfgDlg::ScrollTo);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CReceiverCfgDlg::OnTabChanged);

    resize(480, 600);
}

CReceiverCfgDlg::~CReceiverCfgDlg()
{
    m_script.Close();
    if (g_configSheet == this) {
        g_configSheet = nullptr;
    }
}

bool CReceiverCfgDlg::Open()
{
    CWaitBox wait(WaitText(), this);
    SetStatusText(QStringLiteral("Open receiver : ") + m_context.receiverName);

    const std::shared_ptr<CReceiver> receiver = CReceiverHolder::Shared().GetReceiver();
    if (!receiver->Open(m_context.connection, m_context.receiverName, 0)) {
        SetStatusText(receiver->GetReplyString());
        qCInfo(lcConfig) << "receiver configuration: the receiver did not open:" << receiver->GetReplyString();
        return false;
    }

    BuildPages();
    m_scroll->setRange(0, kScrollRange);
    m_scroll->setSingleStep(2);
    m_scroll->setPageStep(40);
    m_scroll->setTracking(true);
    m_scroll->setValue(0);

    // The link calls back on its own thread: only the shared buffer is touched there.
    const auto keepPosition = [](CReceiver* r) {
        constexpr int kHeader = 5;
        const int size = r->getMsgBufSize();
        g_pgMessage.Store(size > kHeader ? r->getMsgBuf(kHeader) : nullptr, size - kHeader);
    };
    if (!receiver->Attach(kPgChannel, keepPosition, QStringLiteral("PG:1"), nullptr)) {
        SetStatusText(receiver->GetReplyString());
    }

    m_current = 0;
    RunTabChange();
    m_showAfterQuery = true;
    wait.Close();
    return true;
}

void CReceiverCfgDlg::BuildPages()
{
    const QStringList captions = Captions();
    const QSignalBlocker block(m_tabs);
    for (int i = 0; i < kPageCount; ++i) {
        CConfigPage* page = m_context.pageFactory ? m_context.pageFactory(i, m_tabs) : nullptr;
        if (!page && i == 2) {
            page = new CPosition(m_tabs);
        }
        if (!page && i == 3) {
            page = new CBase(m_tabs);
        }
        if (!page && i == 4) {
            page = new CRover(m_tabs);
        }
        // The General, Tovel, Event and Advanced pages.
        if (!page && i == 0) {
            page = new CGeneral(m_tabs);
        }
        if (!page && i == 1) {
            page = new CTovel(m_tabs);
        }
        if (!page && i == 6) {
            page = new CEVent(m_tabs);
        }
        if (!page && i == 7) {
            page = new CAdvanced(m_tabs);
        }
        if (!page) {
            page = new CPendingPage(captions[i], m_tabs);
        }
        page->setObjectName(QStringLiteral("page%1").arg(i));
        m_pages.push_back(page);
        m_tabs->addTab(page, captions[i]);
    }
    m_tabs->setCurrentIndex(0);
}

CConfigPage* CReceiverCfgDlg::Page(int index) const
{
    return index >= 0 && index < PageCount() ? m_pages[size_t(index)] : nullptr;
}

bool CReceiverCfgDlg::IsSheetShown() const
{
    return !m_body->isHidden();
}

void CReceiverCfgDlg::OnTabChanged(int index)
{
    if (index < 0 || index >= PageCount()) {
        return;
    }
    m_current = index;
    RunTabChange();
}

void CReceiverCfgDlg::SelectPage(int index)
{
    if (index < 0 || index >= PageCount()) {
        return;
    }
    if (m_tabs->currentIndex() != index) {
        m_tabs->setCurrentIndex(index);  // runs the tab change through currentChanged
    } else {
        OnTabChanged(index);
    }
}

void CReceiverCfgDlg::RunTabChange()
{
    CConfigPage* page = Page(m_current);
    if (!page) {
        return;
    }
    if (!page->m_bQueried) {
        RefreshPage();
    }
    EnableApply(page->m_bChanged);
    SetStatusText(QString());
}

void CReceiverCfgDlg::RefreshPage()
{
    CConfigPage* page = Page(m_current);
    if (!page) {
        return;
    }
    SetSheetVisible(false);
    CWaitBox wait(WaitText(), this);
    page->QuerySettings();
    page->m_bQueried = true;
    page->m_bChanged = false;
    EnableApply(false);
    SetSheetVisible(m_showAfterQuery);
    SetStatusText(QString());
    wait.Close();
}

void CReceiverCfgDlg::Refresh()
{
    RefreshPage();
}

QString CReceiverCfgDlg::ApplyPage(CConfigPage* page)
{
    ClearSetValueRefused();
    const QString error = page->ApplySettings();
    // A value the toolkit would not send was never seen by the receiver: say it is invalid, not refused.
    return !error.isEmpty() && LastSetValueRefused() ? InvalidValueText(error) : error;
}

void CReceiverCfgDlg::Apply()
{
    CConfigPage* page = Page(m_current);
    if (!page) {
        return;
    }
    if (page->m_bChanged) {
        const QString error = ApplyPage(page);
        if (!error.isEmpty()) {
            SetStatusText(error);
            return;
        }
        SetStatusText(QString());
    }
    EnableApply(false);
    page->m_bChanged = false;
}

void CReceiverCfgDlg::Ok()
{
    // The Advanced page goes first: it sets the update rates that the output periods of other pages are checked
    // against. The others follow in tab order.
    std::vector<int> order{kAdvancedIndex};
    for (int i = 0; i < PageCount(); ++i) {
        if (i != kAdvancedIndex) {
            order.push_back(i);
        }
    }
    for (int i : order) {
        CConfigPage* page = Page(i);
        if (!page) {
            continue;
        }
        if (!page->m_bChanged) {
            continue;
        }
        const QString error = ApplyPage(page);
        if (!error.isEmpty()) {
            SelectPage(i);
            SetStatusText(error);
            return;
        }
        page->m_bChanged = false;
    }
    EnableApply(false);
    ClosePages();
    accept();
}

void CReceiverCfgDlg::Exit()
{
    ClosePages();
    reject();
}

void CReceiverCfgDlg::ClosePages()
{
    for (CConfigPage* page : m_pages) {
        page->SheetClosing();
    }
}

void CReceiverCfgDlg::SetToDefaults()
{
    if (Prompts().Message(InitQuestion(), QStringLiteral("Initialize Receiver"), PromptButtons::YesNo,
                          PromptIcon::Information) != PromptButton::Yes) {
        return;
    }
    CReceiverHolder& holder = CReceiverHolder::Shared();
    if (!holder.Send(QStringLiteral("%%init,/par/"))) {
        SetStatusText(holder.Reply());
        return;
    }
    for (CConfigPage* page : m_pages) {
        page->m_bChanged = false;
        page->m_bQueried = false;
    }
    RunTabChange();
}

void CReceiverCfgDlg::Save()
{
    const int remembered = m_current;
    m_showAfterQuery = false;
    for (int i = 0; i < PageCount(); ++i) {
        if (!m_pages[size_t(i)]->m_bQueried) {
            m_current = i;
            RefreshPage();
        }
    }
    const bool anyChanged = std::any_of(m_pages.begin(), m_pages.end(), [](CConfigPage* p) { return p->m_bChanged; });
    m_current = remembered;
    m_showAfterQuery = true;
    SetSheetVisible(true);
    if (CConfigPage* page = Page(m_current)) {
        EnableApply(page->m_bChanged);  // the queries of the other pages disabled it
    }

    if (anyChanged) {
        ShowMessage(UnappliedText(), QStringLiteral("Saving configuration"), PromptIcon::Error);
        return;
    }

    FileChooserOptions options;
    options.title = QStringLiteral("Save setup to a script");
    options.filters = QStringList{QStringLiteral("Script file(*.kvc)"), QStringLiteral("All (*.*)")};
    options.defaultSuffix = QStringLiteral("kvc");
    options.folder = m_context.workingFolder.isEmpty() ? QDir::currentPath() : m_context.workingFolder;
    options.confirmOverwrite = true;
    const FileChoice choice = Prompts().SaveFile(options);
    if (!choice.Accepted()) {
        return;
    }
    const QString error = WriteSetupScript(choice.path);
    if (!error.isNull()) {
        SetStatusText(error);
    }
}

QString CReceiverCfgDlg::WriteSetupScript(const QString& path)
{
    if (!m_script.Open(path)) {
        return QStringLiteral("Can't open file!");
    }
    for (const QString& line : SetupScriptHeader(m_context.versionText, m_context.buildDateText, m_context.model)) {
        m_script.WriteLine(line);
    }
    const QStringList captions = Captions();
    for (int i = 0; i < PageCount(); ++i) {
        m_script.WriteLine(QStringLiteral("@echo ") + captions[i] + QStringLiteral(" parameters"));
        if (i == 0) {
            // Values that limit other pages' values come first (the update rates before the output periods).
            for (CConfigPage* page : m_pages) {
                page->WriteLeadingScript();
            }
        }
        m_pages[size_t(i)]->WriteScript();
    }
    m_script.WriteLine(QStringLiteral("@echo Done!"));
    m_script.WriteLine(QStringLiteral("# End of script"));
    if (!m_script.Close()) {
        // Half a setup script would reset the receiver and set only some of its parameters when run.
        if (QFileInfo(path).isFile()) {
            QFile::remove(path);
        }
        return m_script.Refused() ? m_script.ErrorText() : QStringLiteral("Can't write file! ") + m_script.ErrorText();
    }
    return QString();
}

void CReceiverCfgDlg::ScrollTo(int position)
{
    m_offset = std::clamp(position, 0, kScrollRange);
    static_cast<CSideViewport*>(m_viewport)->SetOffset(m_offset);
}

void CReceiverCfgDlg::SetStatusText(const QString& text)
{
    m_statusText = text;
    m_status->setText(text);
    // The status line takes room only while it has something to say.
    m_status->setVisible(!text.isEmpty());
}

QString CReceiverCfgDlg::StatusText() const
{
    return m_statusText;
}

void CReceiverCfgDlg::EnableApply(bool enable)
{
    m_apply->setEnabled(enable);
}

bool CReceiverCfgDlg::IsApplyEnabled() const
{
    return m_apply->isEnabled();
}

void CReceiverCfgDlg::SetSheetVisible(bool visible)
{
    // The body is hidden rather than the dialog: hiding a dialog ends its modal loop.
    m_body->setVisible(visible);
}

bool CReceiverCfgDlg::WriteScriptText(const QString& line)
{
    return m_script.WriteLine(line);
}

void CReceiverCfgDlg::RefuseScriptValue(const QString& text)
{
    m_script.Refuse(text);
}

int RunReceiverConfig(const ConfigSheetContext& context, QWidget* parent)
{
    CReceiverCfgDlg sheet(context, parent);
    sheet.Open();
    return sheet.exec();
}
