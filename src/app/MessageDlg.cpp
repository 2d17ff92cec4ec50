#include "app/MessageDlg.h"

#include "link/Connection.h"
#include "link/ServerClient.h"
#include "ui/ElidedLabel.h"
#include "ui/Prompts.h"
#include "ui/WindowFit.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

namespace {

QPushButton* Button(const QString& text, const char* name, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

}  // namespace

CMessageDlg::CMessageDlg(std::function<CConnection*()> connection, QWidget* parent)
    : QDialog(parent), m_connection(std::move(connection))
{
    setObjectName(QStringLiteral("messageDialog"));
    setWindowTitle(QStringLiteral("Message"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* grid = new QGridLayout(this);
    m_toUser = new QComboBox(this);
    m_toUser->setObjectName(QStringLiteral("toUser"));
    m_subject = new QLineEdit(this);
    m_subject->setObjectName(QStringLiteral("subject"));
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("messageText"));
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("pathFile"));
    auto* browse = Button(QStringLiteral("..."), "browse", this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("messageList"));
    m_list->setAccessibleName(QStringLiteral("Messages on the server"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Data"), QStringLiteral("Size"),
                             QStringLiteral("From User"), QStringLiteral("Subject")});
    const int avg = QFontMetrics(font()).averageCharWidth();
    const double widths[] = {3.2, 4.8, 3.0, 3.6, 4.3};
    for (int i = 0; i < 5; ++i) {
        m_list->header()->resizeSection(i, int(widths[i] * avg));
    }
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 99);
    m_progress->hide();
    m_status = new CElidedLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_send = Button(QStringLiteral("Send"), "send", this);
    m_get = Button(QStringLiteral("Get"), "get", this);
    m_getList = Button(QStringLiteral("Get list"), "getList", this);
    m_delete = Button(QStringLiteral("Delete"), "delete", this);
    m_cancel = Button(QStringLiteral("Cancel"), "cancel", this);

    const auto caption = [this, grid](const char* text, QWidget* field, int row) {
        auto* label = new QLabel(QLatin1String(text), this);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
    };
    caption("To User :", m_toUser, 0);
    grid->addWidget(m_toUser, 0, 1, 1, 2);
    caption("Subject :", m_subject, 1);
    grid->addWidget(m_subject, 1, 1, 1, 2);
    caption("Message :", m_text, 2);
    grid->addWidget(m_text, 2, 1, 1, 2);
    caption("Path/File:", m_path, 3);
    grid->addWidget(m_path, 3, 1);
    grid->addWidget(browse, 3, 2);
    grid->addWidget(m_list, 4, 0, 1, 3);
    grid->addWidget(m_progress, 5, 0, 1, 3);
    grid->addWidget(m_status, 6, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_send, m_get, m_getList, m_delete, m_cancel}) {
        buttons->addWidget(b);
    }
    grid->addLayout(buttons, 7, 0, 1, 3);

    connect(browse, &QPushButton::clicked, this, &CMessageDlg::Browse);
    connect(m_send, &QPushButton::clicked, this, &CMessageDlg::Send);
    connect(m_get, &QPushButton::clicked, this, &CMessageDlg::Get);
    connect(m_getList, &QPushButton::clicked, this, &CMessageDlg::GetList);
    connect(m_delete, &QPushButton::clicked, this, &CMessageDlg::Delete);
    connect(m_cancel, &QPushButton::clicked, this, &CMessageDlg::CancelOrClose);
    FitToScreen(this);
}

CMessageDlg::~CMessageDlg()
{
    if (m_upload) {
        m_upload->Cancel();
        m_upload->Forget();
    }
}

void CMessageDlg::SetStatus(const QString& text)
{
    m_status->setText(text);
}

QString CMessageDlg::Status() const
{
    return m_status->text();
}

int CMessageDlg::Percent(qint64 done, qint64 total)
{
    if (total <= 0) {
        return 99;
    }
    const qint64 percent = 100 - (total - done + 1) * 100 / total;
    return int(std::clamp<qint64>(percent, 0, 99));
}

QStringList CMessageDlg::Recipients(const QString& reply)
{
    QStringList users;
    // Read entry by entry to the line ends; nothing is copied into a fixed-size field.
    for (const QString& entry : reply.mid(3).split(QLatin1Char('\n'))) {
        const int slash = int(entry.indexOf(QLatin1Char('/')));
        if (slash <= 0 || slash + 2 != entry.size()) {
            break;
        }
        if (entry.at(slash + 1) == QLatin1Char('e')) {
            users.append(entry.left(slash));
        }
    }
    return users;
}

void CMessageDlg::Open()
{
    CConnection* c = m_connection();
    if (!c || !c->GetUsrList(nullptr)) {
        SetStatus(c ? c->GetMsgText() : QStringLiteral("Not connected to a receiver server"));
        return;
    }
    m_toUser->clear();
    m_toUser->addItems(Recipients(c->GetReplyString()));
    m_toUser->setCurrentIndex(0);
    GetList();
}

void CMessageDlg::GetList()
{
    m_list->clear();
    CConnection* c = m_connection();
    std::vector<REMOTE_MSG> list;
    if (!c || !c->GetMsgList(list)) {
        // The failure is shown: an empty list alone would read as "no messages".
        SetStatus(c ? c->GetMsgText() : QStringLiteral("Not connected to a receiver server"));
        return;
    }
    for (const REMOTE_MSG& m : list) {
        auto* row = new QTreeWidgetItem(m_list, {m.name, m.date, m.size, m.from, m.subject});
        row->setData(0, Qt::UserRole, m.name);
    }
}

void CMessageDlg::Get()
{
    QTreeWidgetItem* row = m_list->currentItem();
    if (!row || !row->isSelected()) {
        SetStatus(QStringLiteral("Select message to read"));
        return;
    }
    CConnection* c = m_connection();
    if (!c) {
        return;
    }
    bool ok = false;
    const qint64 size = row->text(2).toLongLong(&ok);
    const QString name = row->text(0);
    m_progress->setValue(0);
    m_progress->show();
    if (ok && size <= kShownBytes) {
        QString subject;
        QString text;
        if (c->GetMsg(name, QString()) && CConnection::SplitMsgText(c->GetMsgText(), subject, text)) {
            m_subject->setText(subject);
            m_text->setPlainText(text);
            SetStatus(QString());
        } else {
            SetStatus(c->GetMsgText());
        }
    } else {
        // "Path/File:" names the folder the message goes to (a file's own folder when it names a file).
        QString folder = m_path->text().trimmed();
        if (!folder.isEmpty() && QFileInfo(folder).isFile()) {
            folder = QFileInfo(folder).absolutePath();
        }
        if (folder.isEmpty()) {
            folder = Prompts().ChooseFolder(QStringLiteral("Save message"), QDir::homePath());
        }
        if (!folder.isEmpty()) {
            c->GetMsg(name, folder);
            SetStatus(c->GetMsgText());
        }
    }
    m_progress->hide();
}

void CMessageDlg::Delete()
{
    const QList<QTreeWidgetItem*> rows = m_list->selectedItems();
    if (rows.isEmpty()) {
        SetStatus(QStringLiteral("Select message to delete"));
        return;
    }
    CConnection* c = m_connection();
    if (!c) {
        return;
    }
    for (QTreeWidgetItem* row : rows) {
        if (!c->DeleteMsg(row->text(0))) {
            SetStatus(c->GetMsgText());
            break;
        }
    }
    GetList();
}

void CMessageDlg::SetBusy(bool busy)
{
    m_busy = busy;
    m_cancel->setText(busy ? QStringLiteral("Stop") : QStringLiteral("Cancel"));
    for (QPushButton* b : {m_send, m_getList, m_delete, m_get}) {
        b->setEnabled(!busy);
    }
    m_progress->setVisible(busy);
}

void CMessageDlg::Send()
{
    SetStatus(QString());
    const QString user = m_toUser->currentText().trimmed();
    const QString subject = m_subject->text().trimmed();
    const QString path = m_path->text().trimmed();
    const QString text = m_text->toPlainText();
    CConnection* c = m_connection();
    if (user.isEmpty() || subject.isEmpty()) {
        SetStatus(QStringLiteral("Is void field!"));
        return;
    }
    if (!c) {
        return;
    }
    if (!path.isEmpty()) {
        SetBusy(true);
        m_progress->setValue(0);
        SetStatus(QStringLiteral("Set Msg. to server"));
        // The steps report on the connection's thread; the window hears of them through its own event queue, and
        // Forget() (on "Stop" and in the destructor) silences them before the window could be gone.
        m_upload = c->StartSetMsg(
            user, subject, path,
            [this](qint64 done, qint64 total) {
                QMetaObject::invokeMethod(
                    this,
                    [this, done, total] {
                        if (m_busy) {
                            m_progress->setValue(Percent(done, total));
                        }
                    },
                    Qt::QueuedConnection);
            },
            [this, send = ++m_sends](bool, const QString& text) {
                QMetaObject::invokeMethod(
                    this, [this, send, text] { OnSendDone(send, text); }, Qt::QueuedConnection);
            });
        if (!m_upload) {
            SetStatus(c->GetMsgText());
            SetBusy(false);
        }
        return;
    }
    if (text.isEmpty()) {
        SetStatus(QStringLiteral("Is void field!"));
        return;
    }
    c->SetMsg(user, subject, text);
    SetStatus(c->GetMsgText());
}

void CMessageDlg::OnSendDone(int send, const QString& text)
{
    if (!m_busy || send != m_sends) {
        return;  // stopped meanwhile (a later send may be under way)
    }
    m_upload.reset();
    SetStatus(text);
    SetBusy(false);
}

void CMessageDlg::CancelOrClose()
{
    if (m_busy) {
        // Stops this window's own transfer; nothing else on the connection is touched.
        if (m_upload) {
            m_upload->Cancel();
            m_upload->Forget();
            m_upload.reset();
        }
        SetStatus(QStringLiteral("Aborted by user!"));
        SetBusy(false);
        return;
    }
    close();
}

void CMessageDlg::OnServerNotice(const QString& notice)
{
    const int space = int(notice.indexOf(QLatin1Char(' ')));
    const QString kind = notice.left(space);
    const QString rest = space < 0 ? QString() : notice.mid(space + 1);
    if (kind == QLatin1String("progress")) {
        const QStringList parts = rest.split(QLatin1Char('/'));
        bool okDone = false;
        bool okTotal = false;
        const qint64 done = parts.value(0).toLongLong(&okDone);
        const qint64 total = parts.value(1).toLongLong(&okTotal);
        if (okDone && okTotal && parts.size() == 2) {
            m_progress->setValue(Percent(done, total));
        }
    } else if (kind == QLatin1String("done") || kind == QLatin1String("error")) {
        if (!m_busy) {
            m_progress->hide();
        }
        SetStatus(rest);
    }
}

void CMessageDlg::Browse()
{
    FileChooserOptions options;
    options.title = QStringLiteral("Path/File");
    options.folder = QFileInfo(m_path->text()).absolutePath();
    const FileChoice choice = Prompts().OpenFile(options);
    if (choice.Accepted()) {
        m_path->setText(choice.path);
    }
}
