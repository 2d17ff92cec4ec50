#include "link/DownloadSession.h"

#include <QFile>

CDownloadSession::CDownloadSession(const DownloadPlan& plan)
    : m_plan(plan), m_blocks(plan.blockSize, plan.size - plan.offset)
{
}

CDownloadSession::~CDownloadSession()
{
    if (m_file) {
        std::fclose(m_file);
    }
}

bool CDownloadSession::OpenFile(QString* error)
{
    const QByteArray path = QFile::encodeName(m_plan.PartPath());
    // A resumed download appends to a partial file of exactly `offset` bytes.
    m_file = std::fopen(path.constData(), m_plan.offset > 0 ? "ab" : "wb");
    if (!m_file) {
        *error = QStringLiteral("Can't write %1").arg(m_plan.PartPath());
        return false;
    }
    // Blocks are written as they are checked; a large buffer keeps that to one system call per many blocks.
    std::setvbuf(m_file, nullptr, _IOFBF, kWriteBufferBytes);
    m_lastProgress.start();
    return true;
}

CBlockReceiver::Output CDownloadSession::NewOutput()
{
    CBlockReceiver::Output out;
    out.write = [this](const char* data, qsizetype size) {
        if (m_file && !m_writeFailed && std::fwrite(data, 1, size_t(size), m_file) != size_t(size)) {
            m_writeFailed = true;
        }
    };
    return out;
}

QByteArray CDownloadSession::Handle(const CBlockReceiver::Output& out)
{
    if (m_writeFailed) {
        Abort(QStringLiteral("can't write %1").arg(m_plan.PartPath()));
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
    const bool flushed = std::fflush(m_file) == 0;
    std::fclose(m_file);
    m_file = nullptr;
    const int64_t total = m_plan.offset + m_blocks.Received();
    // Only a file whose every block checked out and whose length is the size at the start gets its name.
    if (!flushed || total != m_plan.size || QFile::exists(m_plan.finalPath) ||
        !QFile::rename(m_plan.PartPath(), m_plan.finalPath)) {
        m_notice = "ER:Aborted: the file could not be stored as " + QFile::encodeName(m_plan.finalPath);
        return;
    }
    QFile::remove(m_plan.SourcePath());
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
    if (m_file) {
        std::fflush(m_file);
        std::fclose(m_file);
        m_file = nullptr;
    }
    // The partial file and its source note stay, so that a later download of the same file resumes.
    m_notice = "ER:Aborted: " + why.toUtf8();
}
