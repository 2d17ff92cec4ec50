#include "app/MenuTable.h"

#include "app/CommandIds.h"

namespace {

constexpr MenuEntry kMenuEntries[] = {
    {"File", "Connection", cmd::kConnection, 'C', MenuRule::Idle, "actionConnection"},
    {"File", "Disconnect", cmd::kDisconnect, 'D', MenuRule::Running, "actionDisconnect"},
    {"File", "File Manager", cmd::kFileManager, 'F', MenuRule::Running, "actionFileManager"},
    {"File", "Real-Time Logging", cmd::kRealTimeLogging, 0, MenuRule::Running, "actionRealTimeLogging"},
    {"File", "Manual Mode", cmd::kManualMode, 'M', MenuRule::Running, "actionManualMode"},
    {"File", "Exit", cmd::kExit, 'X', MenuRule::Always, "actionExit"},
    {"Configuration", "Receiver", cmd::kReceiverConfig, 'V', MenuRule::Running, "actionReceiver"},
    {"Configuration", "Compare setup with receiver...", cmd::kCompareSetup, 0, MenuRule::Running, "actionCompareSetup"},
    {"Configuration", "Site", cmd::kSite, 'I', MenuRule::Running, "actionSite"},
    {"Configuration", "Set Target Position", cmd::kSetTargetPosition, 'T', MenuRule::Running,
     "actionSetTargetPosition"},
    {"Configuration", "Set Satellite Time", cmd::kSetSatelliteTime, 0, MenuRule::Running, "actionSetSatelliteTime"},
    {"Tools", "Initialize File System", cmd::kInitFileSystem, 0, MenuRule::Running, "actionInitializeFileSystem"},
    {"Tools", "Clear NVRAM", cmd::kClearNvram, 0, MenuRule::Running, "actionClearNvram"},
    {"Tools", "Reset Receiver", cmd::kResetReceiver, 0, MenuRule::Running, "actionResetReceiver"},
    {"Tools", "Message", cmd::kMessage, 'S', MenuRule::MessageReady, "actionMessage"},
    {"Tools", "Firmware Loader", cmd::kFirmwareLoader, 'L', MenuRule::Never, "actionFirmwareLoader"},
    {"Plot", "Scatter", cmd::kScatterPlot, 0, MenuRule::Never, "actionScatter"},
    {"Plot", "Satellites", cmd::kSatellitesPlot, 0, MenuRule::Running, "actionSatellites"},
    {"Plot", "Position", cmd::kPositionPlot, 0, MenuRule::Never, "actionPosition"},
    {"Help", "About Nemola-M", cmd::kAbout, 0, MenuRule::Always, "actionAbout"},
};

}  // namespace

std::span<const MenuEntry> MenuEntries()
{
    return kMenuEntries;
}

const MenuEntry* FindMenuEntry(int id)
{
    for (const MenuEntry& entry : kMenuEntries) {
        if (entry.id == id) {
            return &entry;
        }
    }
    return nullptr;
}

bool IsEntryEnabled(MenuRule rule, const MenuContext& context)
{
    switch (rule) {
        case MenuRule::Always:
            return true;
        case MenuRule::Never:
            return false;
        case MenuRule::Idle:
            return !context.connecting && !context.running;
        case MenuRule::Running:
            return context.running;
        case MenuRule::MessageReady:
            return context.newMessage || (context.running && !context.localServerConnection);
    }
    return false;
}
