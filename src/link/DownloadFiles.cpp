#include "link/DownloadFiles.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxNameBytes = 255;
constexpr qsizetype kMaxSourceNote = 4096;
// Existing names are opened without waiting: a FIFO planted under one must not hold the download.
constexpr int kOpenExisting = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

// A plain file of this user with no other name: safe to take up again.
bool OwnPlainFile(int fd, struct stat* st)
{
    return ::fstat(fd, st) == 0 && S_ISREG(st->st_mode) && st->st_uid == ::geteuid() && st->st_nlink == 1;
}

QString Reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

CDownloadFiles::~CDownloadFiles()
{
    Close();
}

CDownloadFiles::CDownloadFiles(CDownloadFiles&& other) noexcept
{
    *this = std::move(other);
}

CDownloadFiles& CDownloadFiles::operator=(CDownloadFiles&& other) noexcept
{
    if (this != &other) {
        Close();
        m_dir = std::exchange(other.m_dir, -1);
        m_part = std::exchange(other.m_part, nullptr);
        m_finalPath = std::move(other.m_finalPath);
        m_final = std::move(other.m_final);
        m_partName = std::move(other.m_partName);
        m_sourceName = std::move(other.m_sourceName);
        m_replace = other.m_replace;
    }
    return *this;
}

void CDownloadFiles::Close()
{
    if (m_part) {
        std::fclose(m_part);
        m_part = nullptr;
    }
    if (m_dir >= 0) {
        ::close(m_dir);
        m_dir = -1;
    }
}

bool CDownloadFiles::Open(const QString& finalPath, bool replace, QString* error)
{
    Close();
    m_finalPath = finalPath;
    m_replace = replace;
    const qsizetype slash = finalPath.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : finalPath.left(slash);
    m_final = QFile::encodeName(finalPath.mid(slash + 1));
    if (m_final.isEmpty() || m_final == "." || m_final == "..") {
        *error = QStringLiteral("No local file name");
        return false;
    }
    // Every name the download creates must fit, not only the final one.
    if (m_final.size() + qsizetype(std::strlen(kLongestSuffix)) > kMaxNameBytes) {
        *error = QStringLiteral("The file name is too long: %1").arg(finalPath);
        return false;
    }
    m_partName = m_final + ".part";
    m_sourceName = m_final + kLongestSuffix;
    m_dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dir < 0) {
        *error = QStringLiteral("Can't open the folder %1 (%2)").arg(folder, Reason(errno));
        return false;
    }
    struct stat st = {};
    if (::fstatat(m_dir, m_final.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!replace) {
            *error = QStringLiteral("The file %1 already exists").arg(finalPath);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            *error = QStringLiteral("%1 is not a plain file: it is not replaced").arg(finalPath);
            return false;
        }
    } else if (errno != ENOENT) {
        *error = QStringLiteral("Can't check %1 (%2)").arg(finalPath, Reason(errno));
        return false;
    }
    return true;
}

int64_t CDownloadFiles::Resume(const QByteArray& source, int64_t size)
{
    struct stat st = {};
    const int note = ::openat(m_dir, m_sourceName.constData(), O_RDONLY | kOpenExisting);
    if (note < 0) {
        return 0;
    }
    QByteArray text(kMaxSourceNote + 1, '\0');
    ssize_t got = -1;
    if (OwnPlainFile(note, &st)) {
        got = ::read(note, text.data(), size_t(text.size()));
    }
    ::close(note);
    if (got < 0 || text.left(got) != source) {
        return 0;
    }
    const int fd = ::openat(m_dir, m_partName.constData(), O_WRONLY | O_APPEND | kOpenExisting);
    if (fd < 0) {
        return 0;
    }
    if (!OwnPlainFile(fd, &st) || st.st_size > size || st.st_size <= 0 || !(m_part = ::fdopen(fd, "ab"))) {
        ::close(fd);
        return 0;
    }
    return int64_t(st.st_size);
}

bool CDownloadFiles::StartFresh(const QByteArray& source, QString* error)
{
    if (m_part) {
        std::fclose(m_part);
        m_part = nullptr;
    }
    // Removing a name never touches what a link there points to; whatever cannot be removed makes the exclusive
    // creation below fail.
    ::unlinkat(m_dir, m_partName.constData(), 0);
    ::unlinkat(m_dir, m_sourceName.constData(), 0);
    if (!source.isEmpty()) {
        const int note = ::openat(m_dir, m_sourceName.constData(), kCreate, 0666);
        bool written = note >= 0 && ::write(note, source.constData(), size_t(source.size())) == source.size();
        written = note >= 0 && ::close(note) == 0 && written;
        if (!written) {
            const int why = errno;
            if (note >= 0) {
                ::unlinkat(m_dir, m_sourceName.constData(), 0);
            }
            *error = QStringLiteral("Can't write %1 (%2)").arg(SourcePath(), Reason(why));
            return false;
        }
    }
    const int fd = ::openat(m_dir, m_partName.constData(), kCreate, 0666);
    if (fd < 0 || !(m_part = ::fdopen(fd, "wb"))) {
        *error = QStringLiteral("Can't write %1 (%2)").arg(PartPath(), Reason(errno));
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    return true;
}

bool CDownloadFiles::ClosePart()
{
    if (!m_part) {
        return false;
    }
    const bool flushed = std::fflush(m_part) == 0;
    const bool closed = std::fclose(m_part) == 0;
    m_part = nullptr;
    return flushed && closed;
}

bool CDownloadFiles::Publish(QString* error)
{
    int result = 0;
    if (m_replace) {
        // Replaces the name itself, at once: a link put there meanwhile is replaced, never followed.
        result = ::renameat(m_dir, m_partName.constData(), m_dir, m_final.constData());
    } else {
        result = ::renameat2(m_dir, m_partName.constData(), m_dir, m_final.constData(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename: a second name, which fails on any existing one.
            result = ::linkat(m_dir, m_partName.constData(), m_dir, m_final.constData(), 0);
            if (result == 0) {
                ::unlinkat(m_dir, m_partName.constData(), 0);
            }
        }
    }
    if (result != 0) {
        *error = Reason(errno);
        return false;
    }
    ::unlinkat(m_dir, m_sourceName.constData(), 0);
    return true;
}
