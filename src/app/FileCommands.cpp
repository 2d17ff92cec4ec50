// The "File Manager" and "Initialize File System" commands of the main frame.
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "files/FileManager.h"
#include "link/ReceiverHolder.h"

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

void CMainFrame::OnInitFileSystem() {}
