// The "File Manager" and "Initialize File System" commands of the main frame.
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "files/FileManager.h"
#include "files/Format.h"
#include "link/ReceiverHolder.h"
#include "logging/ui/RealTimeLogging.h"
#include "ui/Prompts.h"

#ifndef NEMOLA_VERSION
#define NEMOLA_VERSION "0.0.0"
#endif

void CMainFrame::OnFileManager()
{
    m_app.RunDialogCommand([this](QWidget* parent) {
        FileManagerContext context;
        context.connection = m_app.State().connection.get();
        context.receiverName = m_app.State().receiverName;
        context.holder = &CReceiverHolder::Shared();
        context.tick = [tick = m_app.Time().tick] { return tick->TickMs(); };
        context.siteDialog = [this](QWidget*) { OnSite(); };
        RunFileManager(context, parent);
    });
}

void CMainFrame::OnRealTimeLogging()
{
    m_app.RunDialogCommand([this](QWidget* parent) {
        const AppSettings& settings = m_app.Settings();
        RealTimeLoggingContext context;
        context.connection = m_app.State().connection.get();
        context.holder = &CReceiverHolder::Shared();
        context.receiverName = m_app.State().receiverName;
        context.site = SiteInfo{settings.siteName, settings.antennaHeight, settings.slantHeight, settings.antennaStatus,
                                settings.antennaType};
        context.receiver = RinexReceiverText{m_app.State().receiverId, m_app.State().model};
        RunRealTimeLogging(context, parent);
    });
}

void CMainFrame::OnInitFileSystem()
{
    if (AskDestructive(
            QStringLiteral("This operation will erase all the files inside the receiver.\nIt may take up to 10 "
                           "minutes, depending on the receiver memory size.\nDo you really wish to continue?"),
            QStringLiteral("Initialize File System")) != PromptButton::Yes) {
        return;
    }
    m_app.RunDialogCommand([this](QWidget* parent) {
        FormatContext context;
        context.connection = m_app.State().connection.get();
        context.receiverName = m_app.State().receiverName;
        context.holder = &CReceiverHolder::Shared();
        context.version = QStringLiteral(NEMOLA_VERSION);
        context.buildDate = QStringLiteral(__DATE__);
        RunFormat(context, parent);
    });
}
