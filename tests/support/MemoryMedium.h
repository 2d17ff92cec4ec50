#pragma once

#include "logging/LogEngine.h"

#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <map>

// A medium in memory for the recording engine's files, shared by all of a recording's files: it fills at
// `capacity` bytes (0: never), and closing a file may fail.
struct MemoryMedium
{
    std::map<QString, QByteArray> files;
    int64_t capacity = 0;
    bool closeFails = false;

    int64_t Used() const
    {
        int64_t n = 0;
        for (const auto& [name, bytes] : files) {
            n += bytes.size();
        }
        return n;
    }
};

class CMemoryMediumWriter : public ILogFileWriter
{
public:
    explicit CMemoryMediumWriter(MemoryMedium* medium) : m_medium(medium) {}
    // As a file system does: an existing file is replaced only when asked to.
    bool Create(const QString& path, bool replace, QString* error) override
    {
        m_name = QFileInfo(path).fileName();
        if (!replace && m_medium->files.count(m_name)) {
            *error = QStringLiteral("File exists");
            return false;
        }
        m_medium->files[m_name].clear();
        return true;
    }
    bool Write(const char* data, int64_t size, QString* error) override
    {
        int64_t room = size;
        if (m_medium->capacity > 0) {
            room = std::min(size, std::max<int64_t>(0, m_medium->capacity - m_medium->Used()));
        }
        m_medium->files[m_name].append(data, qsizetype(room));
        if (room < size) {
            *error = QStringLiteral("No space left on device");
            return false;
        }
        return true;
    }
    void Truncate(int64_t size) override { m_medium->files[m_name].truncate(qsizetype(size)); }
    bool Close(QString* error) override
    {
        if (m_medium->closeFails) {
            *error = QStringLiteral("Input/output error");
        }
        return !m_medium->closeFails;
    }

private:
    MemoryMedium* m_medium;
    QString m_name;
};
