#pragma once

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class CReceiver;

// One download at a time on a receiver, waited for on the caller's thread (no event loop needed): attaches the
// link's notices ("WL" on channel 0), starts CReceiver::DownloadFile and collects the final notice. For the
// command-line tool and tests; the file manager reads the notices itself.
class CFileTransfer
{
public:
    struct Result
    {
        bool ok = false;
        QString text;  // the final notice's text, or why the download did not start
    };
    using Progress = std::function<void(int64_t received, int64_t size)>;

    explicit CFileTransfer(CReceiver& receiver);
    ~CFileTransfer();
    CFileTransfer(const CFileTransfer&) = delete;
    CFileTransfer& operator=(const CFileTransfer&) = delete;

    // Downloads `name` to `localPath` and waits for the end; `progress` is called every `stepMs` on this thread,
    // `stop` (when given) is asked as often and cancels the download when it says so.
    Result Download(const QString& name, const QString& localPath, int blockSize, const Progress& progress = {},
                    const std::function<bool()>& stop = {}, int stepMs = 100);

private:
    CReceiver& m_receiver;
    bool m_attached = false;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    QByteArray m_final;
};
