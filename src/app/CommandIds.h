#pragma once

// Command identifiers of the main frame's menu. They are the numbers the receiver tools and scripts of earlier
// versions know the commands by, so they keep their values.
namespace cmd {

constexpr int kConnection = 32771;
constexpr int kDisconnect = 32772;
constexpr int kFileManager = 32773;
constexpr int kRealTimeLogging = 32774;
constexpr int kManualMode = 32775;
constexpr int kReceiverConfig = 32776;
constexpr int kSite = 32777;
constexpr int kSetTargetPosition = 32778;
constexpr int kInitFileSystem = 32779;
constexpr int kClearNvram = 32780;
constexpr int kResetReceiver = 32781;
constexpr int kFirmwareLoader = 32783;
constexpr int kSatellitesPlot = 32784;
constexpr int kSetSatelliteTime = 32889;
constexpr int kMessage = 32890;
constexpr int kPositionPlot = 32892;
constexpr int kScatterPlot = 32893;
constexpr int kCompareSetup = 32894;
constexpr int kAbout = 57664;
constexpr int kExit = 57665;

}  // namespace cmd
