#pragma once

#include <QDialog>

#include <functional>
#include <memory>

class CConnection;
class CMessageUpload;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

// The "Message" window: the user's messages at the receiver server, read, deleted and sent. Modeless, one at a
// time (the main frame keeps it). Every call goes to the connection the getter returns at that moment, so a
// connection dropped meanwhile is never used.
class CMessageDlg : public QDialog
{
    Q_OBJECT
public:
    // Texts up to this size are shown in the window; larger messages are saved as files.
    static constexpr int kShownBytes = 1024;

    CMessageDlg(std::function<CConnection*()> connection, QWidget* parent = nullptr);
    ~CMessageDlg() override;

    // Fills "To User :" from the server's users and the list (the window's opening steps).
    void Open();
    void GetList();
    void Get();
    void Delete();
    // A text is sent at once; a file goes out in the background, chunk after chunk, while the window (and the
    // rest of the program) carries on: no event loop runs inside it.
    void Send();
    bool Busy() const { return m_busy; }
    void CancelOrClose();
    // A transfer notice of the server: "progress <done>/<total>", "done <text>" or "error <text>".
    void OnServerNotice(const QString& notice);
    void SetStatus(const QString& text);
    QString Status() const;

    // The percentage of the bar for `done` of `total` bytes; an empty file is complete at once.
    static int Percent(qint64 done, qint64 total);
    // The users of a user-list reply ("USR" then "<name>/<letter>\n" per user) whose letter is "e".
    static QStringList Recipients(const QString& reply);

private:
    void Browse();
    void SetBusy(bool busy);
    void OnSendDone(int send, const QString& text);

    std::function<CConnection*()> m_connection;
    QComboBox* m_toUser;
    QLineEdit* m_subject;
    QPlainTextEdit* m_text;
    QLineEdit* m_path;
    QTreeWidget* m_list;
    QProgressBar* m_progress;
    QLabel* m_status;
    QPushButton* m_send;
    QPushButton* m_get;
    QPushButton* m_getList;
    QPushButton* m_delete;
    QPushButton* m_cancel;
    std::shared_ptr<CMessageUpload> m_upload;
    bool m_busy = false;
    int m_sends = 0;
};
