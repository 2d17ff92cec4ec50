#include "link/DownloadSession.h"

CDownloadSession::CDownloadSession(const DownloadPlan& plan, CDownloadFiles files)
    : m_plan(plan), m_blocks(plan.blockSize, plan.size - plan.offset), m_files(std::move(files))
{
    // Blocks are written as they are checked; a large buffer keeps that to one system call per many blocks. The
    // buffer is given: without one the C library keeps its own, of the file system's block size.
    if (m_files.PartFile()) {
        m_writeBuffer = std::make_unique<char[]>(kWriteBufferBytes);
        std::setvbuf(m_files.PartFile(), m_writeBuffer.get(), _IOFBF, kWriteBufferBytes);
    }
    m_lastProgress.start();
}

CBlockReceiver::Output CDownloadSession::NewOutput()
{
    CBlockReceiver::Output out;
    out.write = [this](const char* data, qsizetype size) {
        std::FILE* file = m_files.PartFile();
        if (!m_writeFailed && (!file || std::fwrite(data, 1, size_t(size), file) != size_t(size))) {
            m_writeFailed = true;
        }
    };
    return out;
}

QByteArray CDownloadSession::Handle(const CBlockReceiver::Output& out)
{
    if (m_writeFailed) {
        m_abortSent = true;
        Abort(QStringLiteral("can't write %1").arg(m_files.PartPath()));
        return out.answer + CBlockReceiver::kAbort;
    }
    switch (m_blocks.GetState()) {
        case CBlockReceiver::State::Running:
            break;
        case CBlockReceiver::State::Done:
            Finish();
            break;
        case CBlockReceiver::State::Failed:
            Abort(m_blocks.Error());
            break;
    }
    return out.answer;
}

QByteArray CDownloadSession::Feed(const QByteArray& bytes)
{
    CBlockReceiver::Output out = NewOutput();
    m_blocks.Feed(bytes.constData(), bytes.size(), out);
    return Handle(out);
}

QByteArray CDownloadSession::OnTimeout()
{
    CBlockReceiver::Output out = NewOutput();
    m_blocks.OnTimeout(out);
    return Handle(out);
}

QByteArray CDownloadSession::Cancel()
{
    if (m_finished) {
        return QByteArray();
    }
    m_abortSent = true;
    Abort(QStringLiteral("stopped by the user"));
    return QByteArray(1, CBlockReceiver::kAbort);
}

void CDownloadSession::OnLinkLost(const QString& why)
{
    if (!m_finished) {
        Abort(QStringLiteral("link lost (%1); the download resumes from here next time").arg(why));
    }
}

bool CDownloadSession::ProgressDue()
{
    if (m_finished || m_lastProgress.elapsed() >= 100) {
        m_lastProgress.restart();
        return true;
    }
    return false;
}

void CDownloadSession::Finish()
{
    m_finished = true;
    const bool flushed = m_files.ClosePart();
    const int64_t total = m_plan.offset + m_blocks.Received();
    // Only a file whose every block checked out, whose every byte reached the disk and whose length is the size at
    // the start gets its name.
    QString why;
    if (!flushed) {
        why = QStringLiteral("can't write %1").arg(m_files.PartPath());
    } else if (total != m_plan.size) {
        why = QStringLiteral("%1 of %2 bytes").arg(total).arg(m_plan.size);
    } else if (!m_files.Publish(&why)) {
        why = QStringLiteral("the file could not be stored as %1 (%2)").arg(m_files.FinalPath(), why);
    }
    if (!why.isEmpty()) {
        m_notice = "ER:Aborted: " + why.toUtf8();
        return;
    }
    m_notice = "RE:" + QByteArray::number(qlonglong(total)) + " bytes";
    if (m_plan.offset > 0) {
        m_notice += " (resumed after " + QByteArray::number(qlonglong(m_plan.offset)) + ")";
    }
    if (m_blocks.Grew()) {
        m_notice += " (the file is being logged into: taken up to its size at the start)";
    }
}

void CDownloadSession::Abort(const QString& why)
{
    m_finished = true;
    m_files.ClosePart();
    // The partial file and its source note stay, so that a later download of the same file resumes.
    m_notice = "ER:Aborted: " + why.toUtf8();
}
