#include "server/MessageStore.h"

#include "link/ServerWire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QLatin1String kMetaSuffix(".meta");
// Users' messages are theirs alone, whatever the umask.
constexpr QFileDevice::Permissions kFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions kDirMode = kFileMode | QFileDevice::ExeOwner;

bool MakeDir(const QString& path)
{
    return QDir().mkpath(path) && QFile::setPermissions(path, kDirMode);
}

}  // namespace

CMessageStore::CMessageStore(QString root) : m_root(std::move(root)) {}

bool CMessageStore::Open(QString* error)
{
    if (!MakeDir(m_root)) {
        *error = QStringLiteral("Can't make the message store %1").arg(m_root);
        return false;
    }
    return true;
}

bool CMessageStore::IsValidName(const QString& name)
{
    if (name.isEmpty() || name.size() > kMaxNameLength || name.endsWith(kMetaSuffix)) {
        return false;
    }
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_') ||
                           c == QLatin1Char('-') || (i > 0 && c == QLatin1Char('.'));
        if (!plain) {
            return false;
        }
    }
    return true;
}

QString CMessageStore::SanitizeName(const QString& wanted)
{
    QString out;
    for (const QChar c : wanted.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1)) {
        const bool plain = c.isLetterOrNumber() && c.unicode() < 0x80;
        out += plain || c == QLatin1Char('-') || c == QLatin1Char('.') ? c : QLatin1Char('_');
    }
    while (out.startsWith(QLatin1Char('.'))) {
        out.remove(0, 1);
    }
    out = out.left(kMaxNameLength - 8);
    if (out.endsWith(kMetaSuffix)) {
        out += QLatin1Char('_');
    }
    return out.isEmpty() ? QStringLiteral("text") : out;
}

QString CMessageStore::UserDir(const QString& user) const
{
    return m_root + QLatin1Char('/') + user;
}

QList<CMessageStore::Message> CMessageStore::List(const QString& user) const
{
    QList<Message> out;
    const QDir dir(UserDir(user));
    for (const QString& meta : dir.entryList({QStringLiteral("*.meta")}, QDir::Files, QDir::Name)) {
        Message m;
        if (Find(user, meta.chopped(kMetaSuffix.size()), m)) {
            out.append(m);
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Message& a, const Message& b) { return a.date != b.date ? a.date < b.date : a.name < b.name; });
    return out;
}

bool CMessageStore::Find(const QString& user, const QString& name, Message& m) const
{
    if (!ServerWire::IsValidUserName(user) || !IsValidName(name)) {
        return false;
    }
    QFile file(UserDir(user) + QLatin1Char('/') + name + kMetaSuffix);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray text = file.read(16 * 1024);
    QStringList w;
    QByteArray body;
    bool ok = false;
    if (!ServerWire::Unpack(text, w, body) || w.size() != 5) {
        return false;
    }
    m.name = name;
    m.from = w[0];
    m.subject = w[1];
    m.date = QDateTime::fromString(w[2], Qt::ISODate);
    m.size = w[3].toLongLong(&ok);
    m.unread = w[4] == QLatin1String("1");
    return ok && m.size >= 0 && QFileInfo(UserDir(user) + QLatin1Char('/') + name).size() == m.size;
}

bool CMessageStore::WriteMeta(const QString& user, const Message& m, QString* error) const
{
    QSaveFile file(UserDir(user) + QLatin1Char('/') + m.name + kMetaSuffix);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(kFileMode)) {
        *error = file.errorString();
        return false;
    }
    file.write(ServerWire::Pack({m.from, m.subject, m.date.toUTC().toString(Qt::ISODateWithMs), QString::number(m.size),
                                 m.unread ? QStringLiteral("1") : QStringLiteral("0")}));
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool CMessageStore::Read(const QString& user, const QString& name, qint64 offset, qint64 length, QByteArray& bytes,
                         QString* error) const
{
    Message m;
    if (!Find(user, name, m)) {
        *error = QStringLiteral("No message \"%1\"").arg(name);
        return false;
    }
    if (offset < 0 || offset > m.size || length < 0) {
        *error = QStringLiteral("Invalid range");
        return false;
    }
    QFile file(UserDir(user) + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset)) {
        *error = file.errorString();
        return false;
    }
    bytes = file.read(std::min(length, m.size - offset));
    return true;
}

bool CMessageStore::MarkRead(const QString& user, const QString& name)
{
    Message m;
    QString error;
    if (!Find(user, name, m) || !m.unread) {
        return false;
    }
    m.unread = false;
    return WriteMeta(user, m, &error);
}

bool CMessageStore::HasUnread(const QString& user) const
{
    const auto list = List(user);
    return std::any_of(list.begin(), list.end(), [](const Message& m) { return m.unread; });
}

bool CMessageStore::Remove(const QString& user, const QString& name, QString* error)
{
    Message m;
    if (!Find(user, name, m)) {
        *error = QStringLiteral("No message \"%1\"").arg(name);
        return false;
    }
    // The metadata goes first: a message without it is not listed, whatever happens next.
    const QString path = UserDir(user) + QLatin1Char('/') + name;
    if (!QFile::remove(path + kMetaSuffix)) {
        *error = QStringLiteral("Can't delete \"%1\"").arg(name);
        return false;
    }
    QFile::remove(path);
    return true;
}

std::unique_ptr<CMessageStore::CUpload> CMessageStore::Begin(const QString& to, const QString& from,
                                                             const QString& subject, const QString& wantedName,
                                                             qint64 size, QString* error)
{
    if (!ServerWire::IsValidUserName(to)) {
        *error = QStringLiteral("Invalid user name");
        return nullptr;
    }
    const QString dir = UserDir(to);
    if (!QFileInfo(dir).isDir() && !MakeDir(dir)) {
        *error = QStringLiteral("Can't make the mailbox of %1").arg(to);
        return nullptr;
    }
    const QString base = SanitizeName(wantedName);
    QString name = base;
    // Unique per mailbox, also against uploads under way; bounded number of tries.
    for (int n = 2; n < 100000; ++n) {
        if (!QFile::exists(dir + QLatin1Char('/') + name) &&
            !QFile::exists(dir + QLatin1Char('/') + name + kMetaSuffix) &&
            !m_reserved.contains(to + QLatin1Char('/') + name)) {
            break;
        }
        name = base + QLatin1Char('-') + QString::number(n);
    }
    auto up = std::unique_ptr<CUpload>(new CUpload);
    up->m_store = this;
    up->m_to = to;
    up->m_meta = Message{name, from, subject, QDateTime::currentDateTimeUtc(), size, true};
    up->m_file = std::make_unique<QSaveFile>(dir + QLatin1Char('/') + name);
    if (!up->m_file->open(QIODevice::WriteOnly) || !up->m_file->setPermissions(kFileMode)) {
        *error = up->m_file->errorString();
        return nullptr;
    }
    m_reserved.insert(to + QLatin1Char('/') + name);
    return up;
}

bool CMessageStore::CUpload::Append(const QByteArray& bytes, QString* error)
{
    if (m_received + bytes.size() > m_meta.size) {
        *error = QStringLiteral("More bytes than announced");
        return false;
    }
    if (m_file->write(bytes) != bytes.size()) {
        *error = m_file->errorString();
        return false;
    }
    m_received += bytes.size();
    return true;
}

bool CMessageStore::Commit(CUpload& up, QString* error)
{
    if (up.m_received != up.m_meta.size) {
        *error = QStringLiteral("The message is incomplete");
        return false;
    }
    if (!up.m_file->commit()) {
        *error = up.m_file->errorString();
        return false;
    }
    if (!WriteMeta(up.m_to, up.m_meta, error)) {
        QFile::remove(UserDir(up.m_to) + QLatin1Char('/') + up.m_meta.name);
        return false;
    }
    up.m_committed = true;
    m_reserved.remove(up.m_to + QLatin1Char('/') + up.m_meta.name);
    return true;
}

CMessageStore::CUpload::~CUpload()
{
    if (!m_committed && m_store) {
        m_file->cancelWriting();
        m_store->m_reserved.remove(m_to + QLatin1Char('/') + m_meta.name);
    }
}
