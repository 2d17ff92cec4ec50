#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>

class QSaveFile;

// User messages on disk: <root>/<user>/<name> holds the body, <root>/<user>/<name>.meta its sender, subject,
// date, size and unread flag. Bodies and metadata are written through temporary files and renamed, and a message
// is listed only once its metadata exists, so a crash never leaves a half message in a list.
class CMessageStore
{
public:
    static constexpr int kMaxNameLength = 100;

    struct Message
    {
        QString name;
        QString from;
        QString subject;
        QDateTime date;
        qint64 size = 0;
        bool unread = true;
    };

    // A message being received; removed unless committed.
    class CUpload
    {
    public:
        ~CUpload();
        bool Append(const QByteArray& bytes, QString* error);
        qint64 Received() const { return m_received; }
        qint64 Size() const { return m_meta.size; }
        const Message& Meta() const { return m_meta; }
        const QString& To() const { return m_to; }

    private:
        friend class CMessageStore;
        CMessageStore* m_store = nullptr;
        QString m_to;
        Message m_meta;
        std::unique_ptr<QSaveFile> m_file;
        qint64 m_received = 0;
        bool m_committed = false;
    };

    explicit CMessageStore(QString root);
    // Makes the store's folder (owner only) when missing; false with `error` set when it cannot.
    bool Open(QString* error);

    // A name from the network that may be used as is: no path, no hidden or reserved file.
    static bool IsValidName(const QString& name);
    // A usable name made from a sender's file name.
    static QString SanitizeName(const QString& wanted);

    QList<Message> List(const QString& user) const;
    bool Find(const QString& user, const QString& name, Message& message) const;
    // Reads up to `length` bytes from `offset`; an empty result with ok at the end of the body.
    bool Read(const QString& user, const QString& name, qint64 offset, qint64 length, QByteArray& bytes,
              QString* error) const;
    bool MarkRead(const QString& user, const QString& name);
    bool Remove(const QString& user, const QString& name, QString* error);
    // Reserves a unique name for the message and opens its body.
    std::unique_ptr<CUpload> Begin(const QString& to, const QString& from, const QString& subject,
                                   const QString& wantedName, qint64 size, QString* error);
    // Makes a whole upload a message; the name becomes visible in one rename of its metadata.
    bool Commit(CUpload& upload, QString* error);
    bool HasUnread(const QString& user) const;

private:
    QString UserDir(const QString& user) const;
    bool WriteMeta(const QString& user, const Message& message, QString* error) const;

    QString m_root;
    QSet<QString> m_reserved;  // "<user>/<name>" of uploads under way
};
