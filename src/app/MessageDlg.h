#pragma once

#include <QDialog>

#include <functional>

class CConnection;
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

    // Fills "To User :" from the server's users and the list (the window's opening steps).
    void Open();
    void GetList();
    void Get();
    void Delete();
    void Send();
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
    bool m_continue = true;
    bool m_busy = false;
};
