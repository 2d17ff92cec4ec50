#pragma once

#include "link/BlockReceiver.h"
#include "link/DownloadFiles.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>

// What one download is to do, decided by the caller of CReceiver::DownloadFile before the "get" goes out.
struct DownloadPlan
{
    QString name;        // receiver file name, without "/log/"
    QString finalPath;   // local path the verified file gets
    int64_t size = 0;    // the file's size when the download started
    int64_t offset = 0;  // bytes already in the partial file (a resumed download)
    int blockSize = 512;
};

// One download on the link's I/O thread: block protocol, partial file, verification and the final rename.
// The bytes it returns are for the receiver.
class CDownloadSession
{
public:
    // `files` holds the partial file, open at the plan's offset.
    CDownloadSession(const DownloadPlan& plan, CDownloadFiles files);
    CDownloadSession(const CDownloadSession&) = delete;
    CDownloadSession& operator=(const CDownloadSession&) = delete;

    QByteArray Begin() { return m_blocks.Begin(); }
    QByteArray Feed(const QByteArray& bytes);
    QByteArray OnTimeout();
    QByteArray Cancel();
    void OnLinkLost(const QString& why);

    bool Finished() const { return m_finished; }
    // The receiver may still send: a block may be on its way when the host aborts. The line is read until it is
    // quiet before the next command.
    bool NeedsDrain() const { return m_abortSent || m_blocks.NeedsDrain(); }
    // The next step waits for a short quiet instead of the block time-out (see CBlockReceiver).
    bool WantsQuiet() const { return m_blocks.WantsQuiet(); }
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
    // The partial file's buffer; it outlives m_files, whose closing flushes it.
    std::unique_ptr<char[]> m_writeBuffer;
    CDownloadFiles m_files;
    bool m_finished = false;
    bool m_abortSent = false;  // by the user's Stop or a failed write
    bool m_writeFailed = false;
    QByteArray m_notice;
    QElapsedTimer m_lastProgress;
};
