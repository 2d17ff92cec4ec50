#include "files/FileTransfer.h"

#include "link/Receiver.h"

CFileTransfer::CFileTransfer(CReceiver& receiver) : m_receiver(receiver) {}

CFileTransfer::~CFileTransfer()
{
    if (m_attached) {
        m_receiver.Detach(0);
    }
}

CFileTransfer::Result CFileTransfer::Download(const QString& name, const QString& localPath, int blockSize,
                                              const Progress& progress, const std::function<bool()>& stop, int stepMs)
{
    if (!m_attached) {
        auto onNotice = [this](CReceiver* r) {
            const QByteArray msg(r->getMsgBuf(0), r->getMsgBufSize());
            if (msg.startsWith("RE") || msg.startsWith("ER")) {
                std::lock_guard lock(m_mutex);
                m_done = true;
                m_final = msg;
                m_cv.notify_all();
            }
        };
        if (!m_receiver.Attach(0, onNotice, QStringLiteral("WL"), nullptr)) {
            return {false, m_receiver.GetReplyString()};
        }
        m_attached = true;
    }
    {
        std::lock_guard lock(m_mutex);
        m_done = false;
        m_final.clear();
    }
    if (!m_receiver.DownloadFile(name, localPath, blockSize)) {
        return {false, m_receiver.GetReplyString().trimmed()};
    }
    bool cancelled = false;
    std::unique_lock lock(m_mutex);
    while (!m_done) {
        m_cv.wait_for(lock, std::chrono::milliseconds(stepMs));
        if (m_done) {
            break;
        }
        lock.unlock();
        if (progress) {
            progress(m_receiver.GetDownloadReceived(), m_receiver.GetDownloadSize());
        }
        if (stop && !cancelled && stop()) {
            cancelled = true;
            m_receiver.CancelDownload();
        }
        lock.lock();
    }
    if (progress) {
        progress(m_receiver.GetDownloadReceived(), m_receiver.GetDownloadSize());
    }
    return {m_final.startsWith("RE"), QString::fromUtf8(m_final.mid(3))};
}
