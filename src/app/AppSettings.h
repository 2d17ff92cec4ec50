#pragma once

#include <QString>

class CProfile;

// Site, target and logging defaults the dialogs start from; read at start-up, written when the main frame closes.
struct AppSettings
{
    // Site
    bool slantHeight = false;  // "HeightType": slant when true
    QString antennaHeight = QStringLiteral("0");
    bool antennaStatus = false;
    QString siteName = QStringLiteral("Site");
    QString antennaType = QStringLiteral("UNKNOWN");
    // Target position, radians
    double targetLat = 0.0;
    double targetLon = 0.0;
    // Receiver defaults for logging
    QString recordingInterval = QStringLiteral("1");
    QString elevationMask = QStringLiteral("7");

    bool operator==(const AppSettings&) const = default;
};

// Missing keys keep the defaults above.
AppSettings ReadAppSettings(const CProfile& profile);
void WriteAppSettings(CProfile& profile, const AppSettings& settings);
