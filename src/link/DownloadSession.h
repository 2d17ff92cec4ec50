#pragma once

#include "link/BlockReceiver.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <cstdio>

// What one download is to do, decided by the caller of CReceiver::DownloadFile before the "get" goes out.
struct DownloadPlan
{
    QString name;        // receiver file name, without "/log/"
    QString finalPath;   // local path the verified file gets
    int64_t size = 0;    // the file's size when the download started
    int64_t offset = 0;  // bytes already in the partial file (a resumed download)
    int blockSize = 512;

    QString PartPath() const { return finalPath + QStringLiteral(".part"); }
    // Beside the partial file: the receiver's name, size and time it belongs to.
    QString SourcePath() const { return finalPath + QStringLiteral(".part.src"); }
};

// One download on the link's I/O thread: block protocol, partial file, verification and the final rename.
// The bytes it returns are for the receiver.
class CDownloadSession
{
public:
    explicit CDownloadSession(const DownloadPlan& plan);
    ~CDownloadSession();
    CDownloadSession(const CDownloadSession&) = delete;
    CDownloadSession& operator=(const CDownloadSession&) = delete;

    // Opens the partial file at the plan's offset (caller's thread). False with `error` set.
    bool OpenFile(QString* error);

    QByteArray Begin() { return m_blocks.Begin(); }
    QByteArray Feed(const QByteArray& bytes);
    QByteArray OnTimeout();
    QByteArray Cancel();
    void OnLinkLost(const QString& why);

    bool Finished() const { return m_finished; }
    bool NeedsDrain() const { return m_blocks.NeedsDrain(); }
    int64_t Received() const { return m_plan.offset + m_blocks.Received(); }
    // A progress notice is due (at most every 100 ms, and at the end).
    bool ProgressDue();
    // The final notice: "RE:" + what was received, or "ER:Aborted..." + why.
    QByteArray FinalNotice() const { return m_notice; }

    static constexpr int kWriteBufferBytes = 1 << 20;

private:
    CBlockReceiver::Output NewOutput();
    QByteArray Handle(const CBlockReceiver::Output& out);
    void Finish();
    void Abort(const QString& why);

    DownloadPlan m_plan;
    CBlockReceiver m_blocks;
    std::FILE* m_file = nullptr;
    bool m_finished = false;
    bool m_writeFailed = false;
    QByteArray m_notice;
    QElapsedTimer m_lastProgress;
};
