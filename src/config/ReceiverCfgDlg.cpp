#include "config/ReceiverCfgDlg.h"

#include "config/Base.h"
#include "config/ConfigPage.h"
#include "config/EVent.h"
#include "config/General.h"
#include "config/Position.h"
#include "config/Rover.h"
#include "config/Tovel.h"
#include "config/ports/Ports.h"
#include "config/tracking/Advanced.h"
#include "link/Profile.h"
#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "ui/FieldNames.h"
#include "ui/Prompts.h"
#include "ui/WaitBox.h"
#include "ui/WheelGuard.h"
#include "ui/WindowFit.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLoggingCategory>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

Q_LOGGING_CATEGORY(lcConfig, "nemola.config")

namespace {

const QString kSettingsSection = QStringLiteral("Configuration");
const QString kSetupFolderKey = QStringLiteral("SetupFolder");

// The one scroll area of a page: a scroll bar appears only when the sheet is too small for the page's layout, so
// every page, present and future, fits a small screen without code of its own.
QScrollArea* MakePageArea(CConfigPage* page, QWidget* parent)
{
    auto* area = new QScrollArea(parent);
    area->setObjectName(page->objectName() + QStringLiteral("Area"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->setWidget(page);
    return area;
}

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

QString CReceiverCfgDlg::UnreadText(const QString& caption, const QString& reason)
{
    return QStringLiteral("The %1 parameters can't be read from the receiver:\n%2\nThe setup is not saved.")
        .arg(caption, reason);
}

QString CReceiverCfgDlg::ExitQuestion()
{
    return QStringLiteral("Apply the changes?");
}

QString CReceiverCfgDlg::SavedText(const QString& path)
{
    return QStringLiteral("Saved to ") + QDir::toNativeSeparators(path);
}

QString CReceiverCfgDlg::UnappliedText()
{
    return QStringLiteral(
        "One or more parameters were changed but not applied.\nPlease apply the changes to be sure that\nthe receiver "
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
    layout->addWidget(m_tabs, 1);
    m_wheelGuard = new CWheelGuard(this);

    m_status = new QLabel(m_body);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setWordWrap(true);
    m_status->hide();
    layout->addWidget(m_status);

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
    connect(m_tabs, &QTabWidget::currentChanged, this, &CReceiverCfgDlg::OnTabChanged);

    ::FitToScreen(this, QSize(480, 600));
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
    NameFieldsByLabels(this);
    FitToScreen();

    AttachPosition();

    m_current = 0;
    RunTabChange();
    m_showAfterQuery = true;
    wait.Close();
    return true;
}

void CReceiverCfgDlg::AttachPosition()
{
    const std::shared_ptr<CReceiver> receiver = CReceiverHolder::Shared().GetReceiver();
    // The link calls back on its own thread: only the shared buffer is touched there.
    const auto keepPosition = [](CReceiver* r) {
        constexpr int kHeader = 5;
        const int size = r->getMsgBufSize();
        g_pgMessage.Store(size > kHeader ? r->getMsgBuf(kHeader) : nullptr, size - kHeader);
    };
    if (!receiver->Attach(kPgChannel, keepPosition, QStringLiteral("PG:1"), nullptr)) {
        SetStatusText(receiver->GetReplyString());
    }
}

void CReceiverCfgDlg::ReceiverReopened()
{
    AttachPosition();
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
        if (!page && i == 5) {
            page = new CPorts(m_tabs);
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
        m_tabs->addTab(MakePageArea(page, m_tabs), captions[i]);
    }
    m_tabs->setCurrentIndex(0);
}

void CReceiverCfgDlg::FitToScreen()
{
    // The handheld's screen is the least; a desktop gives the largest page its whole height, up to the screen.
    QSize pages;
    for (CConfigPage* page : m_pages) {
        pages = pages.expandedTo(page->sizeHint());
    }
    const auto* area = static_cast<QScrollArea*>(m_tabs->widget(0));
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    ::FitToScreen(this, (sizeHint() - area->sizeHint() + pages + QSize(bar, bar)).expandedTo(QSize(480, 600)));
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
    SetStatusText(page->m_bQueried ? QString() : QueryFailureText(page->QueryError()));
}

void CReceiverCfgDlg::RefreshPage()
{
    CConfigPage* page = Page(m_current);
    if (!page) {
        return;
    }
    SetSheetVisible(false);
    CWaitBox wait(WaitText(), this);
    // A page that could not be read stays unqueried: its controls are disabled, Apply and OK pass it by, Save
    // refuses, and the next Refresh or tab change reads it again.
    page->m_bQueried = page->Query();
    page->m_bChanged = false;
    EnableApply(false);
    SetSheetVisible(m_showAfterQuery);
    SetStatusText(page->m_bQueried ? QString() : QueryFailureText(page->QueryError()));
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
    if (!page || !page->m_bQueried) {
        return;
    }
    if (page->m_bChanged) {
        const QString error = ApplyPage(page);
        if (!error.isEmpty()) {
            SetStatusText(error);
            return;
        }
        // The receiver took it: say so, or the user cannot tell a click that did something from one that did not.
        SetStatusText(QStringLiteral("Applied"));
    }
    EnableApply(false);
    page->m_bChanged = false;
}

bool CReceiverCfgDlg::HasUnappliedChanges() const
{
    return std::any_of(m_pages.begin(), m_pages.end(), [](CConfigPage* p) { return p->m_bQueried && p->m_bChanged; });
}

bool CReceiverCfgDlg::ApplyChangedPages()
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
        if (!page || !page->m_bQueried || !page->m_bChanged) {
            continue;
        }
        const QString error = ApplyPage(page);
        if (!error.isEmpty()) {
            SelectPage(i);
            SetStatusText(error);
            return false;
        }
        page->m_bChanged = false;
    }
    EnableApply(false);
    return true;
}

void CReceiverCfgDlg::Ok()
{
    if (!ApplyChangedPages()) {
        return;
    }
    ClosePages();
    accept();
}

void CReceiverCfgDlg::Exit()
{
    if (HasUnappliedChanges()) {
        // Leaving would drop typed values without a word; the accepting default keeps them.
        switch (
            Prompts().Message(ExitQuestion(), windowTitle(), PromptButtons::ApplyDiscardCancel, PromptIcon::Question)) {
            case PromptButton::Apply:
                Ok();  // stays open on the failing page when the receiver refuses a value
                return;
            case PromptButton::Discard:
                break;
            default:
                return;
        }
    }
    ClosePages();
    QDialog::reject();
}

void CReceiverCfgDlg::reject()
{
    // Escape and the window's close button leave as Exit does.
    Exit();
}

void CReceiverCfgDlg::ClosePages()
{
    for (CConfigPage* page : m_pages) {
        page->SheetClosing();
    }
}

void CReceiverCfgDlg::SetToDefaults()
{
    if (AskDestructive(InitQuestion(), QStringLiteral("Initialize Receiver")) != PromptButton::Yes) {
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
    const auto unread = std::find_if(m_pages.begin(), m_pages.end(), [](CConfigPage* p) { return !p->m_bQueried; });
    m_current = remembered;
    m_showAfterQuery = true;
    SetSheetVisible(true);
    if (CConfigPage* page = Page(m_current)) {
        EnableApply(page->m_bChanged);  // the queries of the other pages disabled it
    }

    // The setup starts by resetting every parameter: a page left out would replay as the factory's defaults.
    if (unread != m_pages.end()) {
        const QString caption = Captions()[int(unread - m_pages.begin())];
        SetStatusText(QueryFailureText((*unread)->QueryError()));
        ShowMessage(UnreadText(caption, (*unread)->QueryError()), QStringLiteral("Saving configuration"),
                    PromptIcon::Error);
        return;
    }
    if (anyChanged) {
        ShowMessage(UnappliedText(), QStringLiteral("Saving configuration"), PromptIcon::Error);
        return;
    }

    FileChooserOptions options;
    options.title = QStringLiteral("Save setup to a script");
    options.filters = QStringList{QStringLiteral("Script file(*.kvc)"), QStringLiteral("All (*.*)")};
    options.defaultSuffix = QStringLiteral("kvc");
    options.folder = SetupFolder();
    options.confirmOverwrite = true;
    const FileChoice choice = Prompts().SaveFile(options);
    if (!choice.Accepted()) {
        return;
    }
    RememberSetupFolder(QFileInfo(choice.path).absolutePath());
    const QString error = WriteSetupScript(choice.path);
    SetStatusText(error.isNull() ? SavedText(choice.path) : error);
}

QString CReceiverCfgDlg::SetupFolder() const
{
    if (!m_context.workingFolder.isEmpty()) {
        return m_context.workingFolder;
    }
    // The program's own folder is not writable once installed, and the current folder is wherever it was started
    // from: the last folder used, else the user's documents.
    CProfile* profile = CProfile::Instance();
    QString folder = profile->ReadString(kSettingsSection, kSetupFolderKey, QString());
    CProfile::Release();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    return folder.isEmpty() ? QDir::homePath() : folder;
}

void CReceiverCfgDlg::RememberSetupFolder(const QString& folder)
{
    CProfile* profile = CProfile::Instance();
    profile->WriteString(kSettingsSection, kSetupFolderKey, folder);
    CProfile::Release();
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
