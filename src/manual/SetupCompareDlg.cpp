#include "manual/SetupCompareDlg.h"

#include "link/Receiver.h"
#include "link/ReceiverHolder.h"
#include "ui/Prompts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcManual)

namespace {

QPushButton* MakeButton(const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

// Elides its column's texts its own way, whatever the view does for the others.
class CElidingDelegate : public QStyledItemDelegate
{
public:
    CElidingDelegate(Qt::TextElideMode mode, QObject* parent) : QStyledItemDelegate(parent), m_mode(mode) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = m_mode;
    }

private:
    Qt::TextElideMode m_mode;
};

bool Matches(RowState state)
{
    return state == RowState::Same || state == RowState::Verified;
}

}  // namespace

CSetupCompareDlg::CSetupCompareDlg(SetupCompareContext context, QWidget* parent)
    : QDialog(parent), m_context(std::move(context))
{
    setObjectName(QStringLiteral("setupCompare"));
    setWindowTitle(QStringLiteral("Compare setup with receiver"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);

    m_script = new QLineEdit(this);
    m_script->setObjectName(QStringLiteral("scriptPath"));
    m_script->setReadOnly(true);
    m_script->setPlaceholderText(QStringLiteral("No setup chosen"));
    m_script->setAccessibleName(QStringLiteral("Setup script"));
    layout->addWidget(m_script);

    m_table = new QTreeWidget(this);
    m_table->setObjectName(QStringLiteral("compareTable"));
    m_table->setColumnCount(kColumns);
    m_table->setHeaderLabels({QStringLiteral("Parameter"), QStringLiteral("In the setup"),
                              QStringLiteral("In the receiver"), QStringLiteral("State")});
    m_table->setRootIsDecorated(false);
    m_table->setUniformRowHeights(true);
    // Paths share their "/par/" head: their ends tell the rows apart. Values and states keep their first words.
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->setItemDelegateForColumn(kParameter, new CElidingDelegate(Qt::ElideLeft, m_table));
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    // The columns share the width and elide, so that a handheld's screen shows all four; tool tips hold the rest.
    m_table->header()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->header()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);

    m_onlyDifferences = new QCheckBox(QStringLiteral("Only what differs"), this);
    m_onlyDifferences->setObjectName(QStringLiteral("onlyDifferences"));
    connect(m_onlyDifferences, &QCheckBox::toggled, this, &CSetupCompareDlg::ShowRows);
    layout->addWidget(m_onlyDifferences);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    layout->addWidget(m_progress);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    auto* buttons = new QGridLayout;
    m_choose = MakeButton(QStringLiteral("Choose setup..."), "chooseButton", this);
    m_compare = MakeButton(QStringLiteral("Compare again"), "compareButton", this);
    m_apply = MakeButton(QStringLiteral("Apply selected"), "applyButton", this);
    m_stopButton = MakeButton(QStringLiteral("Stop"), "stopButton", this);
    m_save = MakeButton(QStringLiteral("Save report"), "saveButton", this);
    m_close = MakeButton(QStringLiteral("Close"), "closeButton", this);
    buttons->addWidget(m_choose, 0, 0);
    buttons->addWidget(m_compare, 0, 1);
    buttons->addWidget(m_apply, 0, 2);
    buttons->addWidget(m_stopButton, 1, 0);
    buttons->addWidget(m_save, 1, 1);
    buttons->addWidget(m_close, 1, 2);
    layout->addLayout(buttons);

    connect(m_choose, &QPushButton::clicked, this, &CSetupCompareDlg::ChooseScript);
    connect(m_compare, &QPushButton::clicked, this, [this] { Compare(m_comparison.scriptPath); });
    connect(m_apply, &QPushButton::clicked, this, &CSetupCompareDlg::ApplySelected);
    connect(m_stopButton, &QPushButton::clicked, this, &CSetupCompareDlg::Stop);
    connect(m_save, &QPushButton::clicked, this, &CSetupCompareDlg::SaveReport);
    connect(m_close, &QPushButton::clicked, this, &CSetupCompareDlg::reject);
    connect(m_table, &QTreeWidget::itemChanged, this, &CSetupCompareDlg::OnItemChanged);

    FitToScreen();
    UpdateButtons();
}

CSetupCompareDlg::~CSetupCompareDlg()
{
    Stop();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

CReceiverHolder& CSetupCompareDlg::Holder() const
{
    return m_context.holder ? *m_context.holder : CReceiverHolder::Shared();
}

void CSetupCompareDlg::FitToScreen()
{
    // The handheld's whole screen; a desktop gives the four columns room to show their values.
    QSize wanted(900, 700);
    if (const QScreen* screen = this->screen()) {
        wanted = wanted.boundedTo(screen->availableSize());
    }
    resize(wanted);
}

bool CSetupCompareDlg::Open()
{
    const std::shared_ptr<CReceiver> receiver = Holder().GetReceiver();
    m_opened = receiver->Open(m_context.connection, m_context.receiverName, 0);
    m_status->setText(m_opened ? QStringLiteral("Choose the setup script to compare with the receiver.")
                               : receiver->GetReplyString().trimmed());
    UpdateButtons();
    return m_opened;
}

QString CSetupCompareDlg::StatusText() const
{
    return m_status->text();
}

void CSetupCompareDlg::ChooseScript()
{
    FileChooserOptions options;
    options.title = QStringLiteral("Compare a setup with the receiver");
    options.folder = m_context.scriptFolder;
    options.filters = {QStringLiteral("Script file (*.kvc)"), QStringLiteral("All (*)")};
    const FileChoice choice = Prompts().OpenFile(options);
    if (choice.Accepted()) {
        Compare(choice.path);
    }
}

void CSetupCompareDlg::Compare(const QString& scriptPath)
{
    if (IsBusy() || !m_opened || scriptPath.isEmpty()) {
        return;
    }
    m_script->setText(scriptPath);
    m_table->clear();
    Start(QStringLiteral("Reading the setup script"),
          [scriptPath](CSetupCheck& check, SetupComparison& comparison) { comparison = check.Compare(scriptPath); });
}

void CSetupCompareDlg::ApplySelected()
{
    if (IsBusy() || m_comparison.rows.empty()) {
        return;
    }
    Start(QStringLiteral("Applying"),
          [](CSetupCheck& check, SetupComparison& comparison) { check.Apply(&comparison); });
}

void CSetupCompareDlg::Start(const QString& step, std::function<void(CSetupCheck&, SetupComparison&)> work)
{
    m_stop = false;
    ShowProgress(step, 0, 0);
    // The thread works on a copy; the dialog shows its own until the result comes back.
    SetupComparison copy = m_comparison;
    CReceiverHolder* holder = &Holder();
    m_worker = std::thread([this, holder, work = std::move(work), copy = std::move(copy)]() mutable {
        const auto progress = [this](const QString& step, int done, int total) {
            QMetaObject::invokeMethod(
                this, [this, step, done, total] { ShowProgress(step, done, total); }, Qt::QueuedConnection);
        };
        CSetupCheck check(
            *holder, [this] { return m_stop.load(); }, progress);
        check.ownPortStopped = m_context.ownOutputStopped;
        work(check, copy);
        QMetaObject::invokeMethod(
            this, [this, result = std::move(copy)]() mutable { Finish(std::move(result)); }, Qt::QueuedConnection);
    });
    UpdateButtons();
}

void CSetupCompareDlg::Finish(SetupComparison result)
{
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_comparison = std::move(result);
    ShowRows();
    QString status = m_comparison.end == CheckEnd::Done ? QString() : m_comparison.endText + QLatin1Char('\n');
    if (!m_comparison.rows.empty()) {
        status += ComparisonSummary(m_comparison);
    }
    m_status->setText(status.trimmed());
    m_progress->setRange(0, 1);
    m_progress->setValue(m_comparison.end == CheckEnd::Done ? 1 : 0);
    m_progress->setFormat(m_comparison.end == CheckEnd::Done ? QStringLiteral("Done") : QStringLiteral("Ended"));
    UpdateButtons();
    qCInfo(lcManual) << "setup comparison:" << m_status->text();
    emit WorkFinished();
}

void CSetupCompareDlg::ShowProgress(const QString& step, int done, int total)
{
    if (!IsBusy() && done > 0) {
        return;  // a late notice of a finished run
    }
    m_progress->setRange(0, total);
    m_progress->setValue(done);
    m_progress->setFormat(total > 0 ? step + QStringLiteral(" %v/%m") : step);
    m_progress->setTextVisible(true);
    m_status->setText(step + QStringLiteral("..."));
}

void CSetupCompareDlg::ShowRows()
{
    const QSignalBlocker block(m_table);
    m_table->clear();
    for (size_t i = 0; i < m_comparison.rows.size(); ++i) {
        const CompareRow& row = m_comparison.rows[i];
        // What an apply verified stays in view: it is the proof the user asked for.
        if (m_onlyDifferences->isChecked() && row.state == RowState::Same) {
            continue;
        }
        auto* item = new QTreeWidgetItem(m_table);
        const QString receiver = row.receiver.isNull() ? QStringLiteral("-") : row.receiver;
        const QString texts[kColumns] = {row.item.path, row.item.value, receiver, RowStateText(row)};
        for (int c = 0; c < kColumns; ++c) {
            item->setText(c, texts[c]);
            item->setToolTip(c, texts[c]);
        }
        item->setData(kParameter, Qt::UserRole, qulonglong(i));
        // Every row has its box, so that the names line up; nothing is to be applied where the values match.
        item->setCheckState(kParameter, row.selected ? Qt::Checked : Qt::Unchecked);
        if (Matches(row.state)) {
            item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
        }
    }
}

void CSetupCompareDlg::OnItemChanged(QTreeWidgetItem* item)
{
    // The ticks live in the rows, so that a filtered table does not forget them.
    const size_t row = item->data(kParameter, Qt::UserRole).toULongLong();
    if (row < m_comparison.rows.size()) {
        m_comparison.rows[row].selected = item->checkState(kParameter) == Qt::Checked;
    }
    UpdateButtons();
}

void CSetupCompareDlg::UpdateButtons()
{
    const bool busy = IsBusy();
    const bool anyTicked = std::any_of(m_comparison.rows.begin(), m_comparison.rows.end(),
                                       [](const CompareRow& row) { return row.selected; });
    m_choose->setEnabled(m_opened && !busy);
    m_compare->setEnabled(m_opened && !busy && !m_comparison.scriptPath.isEmpty());
    m_apply->setEnabled(m_opened && !busy && anyTicked && m_comparison.end != CheckEnd::HeaderStopped);
    m_stopButton->setEnabled(busy);
    m_save->setEnabled(!busy && !m_comparison.scriptPath.isEmpty());
    m_table->setEnabled(!busy);
}

void CSetupCompareDlg::Stop()
{
    if (!IsBusy()) {
        return;
    }
    m_stop = true;
    // A command waiting for the receiver ends at once.
    Holder().Cancel();
}

void CSetupCompareDlg::SaveReport()
{
    if (IsBusy() || m_comparison.scriptPath.isEmpty()) {
        return;
    }
    FileChooserOptions options;
    options.title = QStringLiteral("Save the comparison report");
    options.folder = m_context.scriptFolder;
    options.filters = {QStringLiteral("Text file (*.txt)"), QStringLiteral("All (*)")};
    options.defaultSuffix = QStringLiteral("txt");
    const FileChoice choice = Prompts().SaveFile(options);
    if (!choice.Accepted()) {
        return;
    }
    QSaveFile file(choice.path);
    const QByteArray text = ComparisonReport(m_comparison, m_context.receiverName).toUtf8();
    // Written whole or not at all: a full disk leaves no half report behind that looks complete.
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        Prompts().Message(QStringLiteral("Can't save the report: ") + file.errorString(), QStringLiteral("Save report"),
                          PromptButtons::Ok, PromptIcon::Error);
        return;
    }
    m_status->setText(QStringLiteral("Report saved: ") + choice.path);
}

void CSetupCompareDlg::reject()
{
    // The thread must be done with the receiver before the caller takes it back.
    Stop();
    if (m_worker.joinable()) {
        m_worker.join();
    }
    QDialog::reject();
}

void CSetupCompareDlg::KeepFrameOnScreen()
{
    // The window manager's frame is known only once the dialog is placed: a title bar must not push the buttons
    // off a handheld's screen.
    const QScreen* screen = this->screen();
    if (!screen || !isVisible()) {
        return;
    }
    const QRect available = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const QSize over(std::max(0, frame.width() - available.width()), std::max(0, frame.height() - available.height()));
    if (over.width() > 0 || over.height() > 0) {
        resize(size() - over);
    }
    const QRect fitted = frameGeometry();
    const QPoint shift(std::min(0, available.right() - fitted.right()) + std::max(0, available.left() - fitted.left()),
                       std::min(0, available.bottom() - fitted.bottom()) + std::max(0, available.top() - fitted.top()));
    if (!shift.isNull()) {
        move(pos() + shift);
    }
}

void CSetupCompareDlg::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    KeepFrameOnScreen();
}

void CSetupCompareDlg::closeEvent(QCloseEvent* event)
{
    reject();
    event->accept();
}

void RunSetupCompare(const SetupCompareContext& context, QWidget* parent)
{
    CSetupCompareDlg dialog(context, parent);
    if (dialog.Open()) {
        QMetaObject::invokeMethod(&dialog, &CSetupCompareDlg::ChooseScript, Qt::QueuedConnection);
    }
    dialog.exec();
}
