// The "Site", "Set Target Position" and "Satellites" commands of the main frame.
#include "app/AppSettings.h"
#include "app/Connector.h"
#include "app/MainFrame.h"
#include "app/MainView.h"
#include "app/NemolaApp.h"
#include "app/SiteDlg.h"
#include "app/TargetDlg.h"
#include "link/Profile.h"
#include "link/ReceiverHolder.h"
#include "plots/Satellites.h"

void CMainFrame::OnSite()
{
    AppSettings& settings = m_app.Settings();
    SiteInfo site{settings.siteName, settings.antennaHeight, settings.slantHeight, settings.antennaStatus,
                  settings.antennaType};
    CProfile* profile = CProfile::Instance();
    CSiteDlg dialog(site, profile, &CReceiverHolder::Shared(), this);
    dialog.exec();
    CProfile::Release();
    settings.siteName = site.name;
    settings.antennaHeight = site.antennaHeight;
    settings.slantHeight = site.slant;
    settings.antennaStatus = site.moving;
    settings.antennaType = site.antennaType;
}

void CMainFrame::OnSetTargetPosition()
{
    AppSettings& settings = m_app.Settings();
    // The view's copy of the last position: the receiver state itself belongs to the connection thread.
    const auto lastPg = [this] { return m_view ? m_view->LastPg() : QByteArray(); };
    const auto apply = [this, &settings](double lat, double lon) {
        settings.targetLat = lat;
        settings.targetLon = lon;
        // Kept at once: a target set in this run survives however the program ends.
        m_app.WriteSettings();
        // Taken at the next epoch, which then shows the new target fields.
        m_app.Connector().SetTarget(lat, lon);
    };
    CTargetDlg dialog(settings.targetLat, settings.targetLon, m_app.State().running, lastPg, apply, this);
    dialog.exec();
}

void CMainFrame::OnSatellitesPlot()
{
    m_app.RunDialogCommand([this](QWidget* parent) {
        SatellitesContext context;
        context.connection = m_app.State().connection.get();
        context.receiverName = m_app.State().receiverName;
        context.tick = m_app.Time().tick;
        RunSatellites(context, parent);
    });
}
