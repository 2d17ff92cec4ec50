#include "app/AppSettings.h"

#include "link/Profile.h"

namespace {

const QString kSite = QStringLiteral("Site");
const QString kTarget = QStringLiteral("TargetPosition");
const QString kReceiver = QStringLiteral("Receiver");

}  // namespace

AppSettings ReadAppSettings(const CProfile& profile)
{
    const AppSettings d;
    AppSettings s;
    s.slantHeight = profile.ReadBool(kSite, QStringLiteral("HeightType"), d.slantHeight);
    // One "n": the key has always been spelled so, and existing settings files use it.
    s.antennaHeight = profile.ReadString(kSite, QStringLiteral("AntenaHeight"), d.antennaHeight);
    s.antennaStatus = profile.ReadBool(kSite, QStringLiteral("Status"), d.antennaStatus);
    s.siteName = profile.ReadString(kSite, QStringLiteral("SiteName"), d.siteName);
    s.antennaType = profile.ReadString(kSite, QStringLiteral("AntennaType"), d.antennaType);
    s.targetLat = profile.ReadDouble(kTarget, QStringLiteral("Lat"), d.targetLat);
    s.targetLon = profile.ReadDouble(kTarget, QStringLiteral("Lon"), d.targetLon);
    s.recordingInterval = profile.ReadString(kReceiver, QStringLiteral("RecIntFile"), d.recordingInterval);
    s.elevationMask = profile.ReadString(kReceiver, QStringLiteral("ElvMask"), d.elevationMask);
    return s;
}

void WriteAppSettings(CProfile& profile, const AppSettings& s)
{
    profile.WriteBool(kSite, QStringLiteral("HeightType"), s.slantHeight);
    profile.WriteString(kSite, QStringLiteral("AntenaHeight"), s.antennaHeight);
    profile.WriteBool(kSite, QStringLiteral("Status"), s.antennaStatus);
    profile.WriteString(kSite, QStringLiteral("SiteName"), s.siteName);
    profile.WriteString(kSite, QStringLiteral("AntennaType"), s.antennaType);
    profile.WriteDouble(kTarget, QStringLiteral("Lat"), s.targetLat);
    profile.WriteDouble(kTarget, QStringLiteral("Lon"), s.targetLon);
    profile.WriteString(kReceiver, QStringLiteral("RecIntFile"), s.recordingInterval);
    profile.WriteString(kReceiver, QStringLiteral("ElvMask"), s.elevationMask);
    profile.Sync();
}
