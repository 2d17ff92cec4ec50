#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>

// The local files of one download: "<name>" (the verified file), "<name>.part" (the bytes so far) and
// "<name>.part.src" (which receiver file those bytes belong to). All three are reached through the descriptor of
// their folder and never through a symbolic link, so that a link planted in the folder is not written through:
// new files are created exclusively, an existing partial file is resumed only when it is a plain file of this
// user, and the final name is given by a rename that never replaces (nor copies). The folder itself may be a link:
// the user chose it.
class CDownloadFiles
{
public:
    // The longest suffix a download adds to the final name.
    static constexpr const char* kLongestSuffix = ".part.src";

    CDownloadFiles() = default;
    ~CDownloadFiles();
    CDownloadFiles(CDownloadFiles&& other) noexcept;
    CDownloadFiles& operator=(CDownloadFiles&& other) noexcept;
    CDownloadFiles(const CDownloadFiles&) = delete;
    CDownloadFiles& operator=(const CDownloadFiles&) = delete;

    // Opens the folder of `finalPath` and checks the final name without following it: it must not exist, or with
    // `replace` be a regular file (replaced only when the new one is complete). False with `error` set.
    bool Open(const QString& finalPath, bool replace, QString* error);
    // Opens a partial file left by an earlier download of `source` for appending and returns its length; 0 when
    // there is none to resume (missing, another source, longer than `size`, or not a plain file of this user).
    int64_t Resume(const QByteArray& source, int64_t size);
    // Removes an old partial file and its note, writes the note (unless `source` is empty) and creates the
    // partial file. False with `error` set.
    bool StartFresh(const QByteArray& source, QString* error);

    // The partial file, open for writing at its end; null once closed.
    std::FILE* PartFile() const { return m_part; }
    // Flushes and closes the partial file; false when a byte of it may be lost.
    bool ClosePart();
    // Gives the closed partial file its final name and removes the note. False with `error` set (the reason).
    bool Publish(QString* error);

    QString FinalPath() const { return m_finalPath; }
    QString PartPath() const { return m_finalPath + QStringLiteral(".part"); }
    QString SourcePath() const { return m_finalPath + QStringLiteral(".part.src"); }

private:
    void Close();

    int m_dir = -1;
    std::FILE* m_part = nullptr;
    QString m_finalPath;
    QByteArray m_final;  // names inside the folder, encoded
    QByteArray m_partName;
    QByteArray m_sourceName;
    bool m_replace = false;
};
