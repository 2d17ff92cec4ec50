// The simulated receiver's parameters: one line per path. Add a parameter by adding its line; a value that
// depends on the receiver's state is marked Live and gets its provider in SimCommands.cpp.
//
// Models, serial numbers and certification ids are made up for the simulator.

#include "sim/ParamStore.h"

#include <array>

namespace {

using T = ParamType;
constexpr unsigned RO = ParamFlag::ReadOnly;
constexpr unsigned MOM = ParamFlag::Momentary;
constexpr unsigned LIVE = ParamFlag::Live | ParamFlag::ReadOnly;

constexpr const char* kOnOff = "on|off";
constexpr const char* kBauds = "300|600|1200|2400|4800|9600|19200|38400|57600|115200|153600|230400|460800|1500000";
constexpr const char* kInputModes = "none|cmd|echo|rtcm|rtcm3|cmr|kvs|omni";

// One line per entry, so that the tables read and extend line by line.
// clang-format off
constexpr ParamDef kParams[] = {
    // --- identification
    {"/par/rcv/model", T::Text, "Vireo-Z3", "", RO, ""},
    {"/par/rcv/sn", T::Text, "ZV3-20417", "", RO, ""},
    {"/par/rcv/ver/main", T::Text, "3.4.1", "", RO, ""},
    {"/par/rcv/ver/board", T::Text, "MBV-2.1", "", RO, ""},
    {"/par/rcv/ver/hw", T::Text, "1.3", "", RO, ""},
    {"/par/rcv/ver/boot", T::Text, "1.07", "", RO, ""},
    {"/par/rcv/ver/modem", T::Text, "QM-GX 4.2", "", RO, "modem"},
    {"/par/rcv/mem", T::Int, "16384", "", RO, ""},
    {"/par/rcv/uptime", T::Int, "", "", LIVE, ""},
    {"/par/rcv/flash/waitstates", T::Int, "2", "", RO, ""},
    {"/par/rcvid", T::Text, "", "", RO, ""},  // made from the seed
    {"/par/version/main", T::Text, "3.4.1 2024-03-05", "", RO, ""},
    {"/par/reset", T::Enum, "no", "yes|no", MOM, ""},

    // --- time
    {"/par/time/utc/date", T::Text, "", "", LIVE, ""},
    {"/par/time/utc/time", T::Text, "", "", LIVE, ""},

    // --- options the receiver has; an absent feature answers 0
    {"/par/opts/cur/_DTM", T::Int, "1", "", RO, ""},
    {"/par/opts/cur/RS_A", T::Int, "460", "", RO, ""},
    {"/par/opts/cur/RS_B", T::Int, "460", "", RO, ""},
    {"/par/opts/cur/RS_C", T::Int, "115", "", RO, ""},
    {"/par/opts/cur/RS_D", T::Int, "115", "", RO, ""},
    {"/par/opts/cur/_TCP", T::Int, "5", "", RO, ""},
    {"/par/opts/cur/_USB", T::Int, "1", "", RO, ""},
    {"/par/opts/cur/_CAN", T::Int, "2", "", RO, ""},
    {"/par/opts/cur/ETHR", T::Int, "1", "", RO, ""},
    {"/par/opts/cur/_RTK", T::Int, "1", "", RO, ""},
    {"/par/opts/cur/MODM", T::Int, "1", "", RO, ""},
    {"/par/opts/cur/_UHF", T::Int, "1", "", RO, ""},
    {"/par/opts/cur/_BLT", T::Int, "1", "", RO, ""},
    {"/par/opts/cur/WLAN", T::Int, "1", "", RO, ""},

    // --- antenna and power
    {"/par/ant/inp", T::Enum, "auto", "auto|int|ext", 0, ""},
    {"/par/ant/curinp", T::Text, "ext", "", RO, ""},
    {"/par/ant/dc", T::Text, "ok", "", RO, ""},
    {"/par/pwr/ext", T::Real, "12.10", "", RO, ""},
    {"/par/pwr/mode", T::Enum, "auto", "auto|ext|bat", 0, ""},
    {"/par/pwr/curmode", T::Text, "ext", "", RO, ""},
    {"/par/pwr/bat/a", T::Real, "8.20", "", RO, ""},
    {"/par/pwr/bat/b", T::Real, "0.00", "", RO, ""},
    {"/par/pwr/board", T::Real, "7.95", "", RO, ""},
    {"/par/pwr/charger", T::Real, "12.05", "", RO, ""},
    {"/par/pwr/charge/bat", T::Enum, "auto", "auto|a|b|off", 0, ""},
    {"/par/pwr/charge/curbat", T::Text, "a", "", RO, ""},
    {"/par/pwr/charge/speed", T::Enum, "high", "low|high", 0, ""},
    {"/par/pwr/charge/curspeed", T::Text, "high", "", RO, ""},
    {"/par/pwr/d3v", T::Real, "3.31", "", RO, ""},
    {"/par/pwr/a3v", T::Real, "3.29", "", RO, ""},
    {"/par/pwr/d5v", T::Real, "5.02", "", RO, ""},
    {"/par/pwr/a5v", T::Real, "4.98", "", RO, ""},
    {"/par/dev/thermo/out", T::Int, "37", "", RO, ""},

    // --- receiver memory
    {"/par/dev/blk/a/ver", T::Text, "2.0", "", RO, ""},
    {"/par/dev/blk/a/size", T::Int, "134217728", "", RO, ""},
    {"/par/dev/blk/a/free", T::Int, "", "", LIVE, ""},
    {"/par/dev/blk/a/files", T::Int, "", "", LIVE, ""},
    {"/par/dev/blk/a/block_size", T::Int, "16384", "", RO, ""},
    {"/par/dev/blk/a/blocks", T::Int, "8192", "", RO, ""},
    {"/par/dev/blk/a/bad_blocks", T::Int, "0", "", RO, ""},
    {"/par/dev/blk/a/verify", T::Enum, "off", kOnOff, 0, ""},
    {"/dev/blk/a&block_size", T::Int, "16384", "", RO, ""},
    {"/dev/blk/a&blocks", T::Int, "8192", "", RO, ""},
    {"/cur/log", T::Text, "", "", LIVE, ""},
    {"/cur/log&size", T::Int, "", "", LIVE, ""},
    {"/log/&[name,size,time]", T::Braced, "", "", LIVE, ""},

    // --- the current port (answers the asking session's own port)
    {"/cur/term", T::Text, "", "", LIVE, ""},

    // --- positioning
    {"/par/base/mode", T::Enum, "off", kOnOff, 0, ""},
    {"/par/rover/mode", T::Enum, "off", kOnOff, 0, "rtk"},
    {"/par/pos/mode/cur", T::Text, "sp", "", RO, ""},
    {"/par/pos/elm", T::Int, "5", "0..90", 0, ""},
    {"/par/pos/pdop", T::Real, "30.0", "1..1000", 0, ""},
    {"/par/pos/pd/reset", T::Enum, "off", kOnOff, MOM, "rtk"},
    {"/par/pos/datum/cur", T::Text, "W84", "", RO, ""},
    {"/par/raw/msint", T::Int, "100", "10..1000", 0, ""},
    {"/par/raw/curmsint", T::Int, "100", "", RO, ""},
    {"/par/pos/msint", T::Int, "100", "10..1000", 0, ""},
    {"/par/pos/curmsint", T::Int, "100", "", RO, ""},
    {"/par/ref/pos/gps/geo", T::Braced, "{W84,N50d05m13.2000s,E14d25m15.6000s,245.0000}", "", 0, "rtk"},
    {"/par/out/elm/cur/term", T::Int, "5", "-90..90", 0, ""},
    {"/par/out/elm/cur/log", T::Int, "5", "-90..90", 0, ""},

    // --- ports
    {"/par/dev/ser/a/rate", T::Enum, "115200", kBauds, 0, ""},
    {"/par/dev/ser/a/rtscts", T::Enum, "off", kOnOff, 0, ""},
    {"/par/dev/ser/a/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/ser/b/rate", T::Enum, "115200", kBauds, 0, ""},
    {"/par/dev/ser/b/rtscts", T::Enum, "off", kOnOff, 0, ""},
    {"/par/dev/ser/b/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/ser/c/rate", T::Enum, "115200", kBauds, 0, ""},
    {"/par/dev/ser/c/rtscts", T::Enum, "off", kOnOff, 0, ""},
    {"/par/dev/ser/c/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/ser/d/rate", T::Enum, "115200", kBauds, 0, ""},
    {"/par/dev/ser/d/rtscts", T::Enum, "off", kOnOff, 0, ""},
    {"/par/dev/ser/d/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/tcp/a/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/tcp/b/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/tcp/c/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/tcp/d/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/tcp/e/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/usb/a/imode", T::Enum, "cmd", kInputModes, 0, ""},
    {"/par/dev/can/a/imode", T::Enum, "none", kInputModes, 0, "can"},
    {"/par/dev/can/b/imode", T::Enum, "none", kInputModes, 0, "can"},
    {"/par/dev/blt/a/imode", T::Enum, "cmd", kInputModes, 0, "blt"},
    {"/par/dev/modem/a/imode", T::Enum, "none", kInputModes, 0, "modem"},

    // --- network
    {"/par/net/passwd", T::Text, "sim", "16", 0, ""},
    {"/par/net/tcp/port", T::Int, "8002", "1..65535", 0, ""},

    // --- radios and their certification data
    {"/par/blt/name", T::Quoted, "VIREO-Z3", "16", 0, "blt"},
    {"/par/blt/pin", T::Quoted, "0000", "8", 0, "blt"},
    {"/par/modem/c/inf/dev/fccid", T::Text, "Q7S-GX42", "", RO, "modem,cert"},
    {"/par/modem/c/inf/dev/ic", T::Text, "4417A-GX42", "", RO, "modem,cert"},
    {"/par/modem/c/uhf/inf/fccid", T::Text, "Q7S-UR11", "", RO, "uhf,cert"},
    {"/par/modem/c/uhf/inf/ic", T::Text, "4417A-UR11", "", RO, "uhf,cert"},
    {"/par/blt/inf/fccid", T::Text, "Q7S-BT05", "", RO, "blt,cert"},
    {"/par/blt/inf/ic", T::Text, "4417A-BT05", "", RO, "blt,cert"},
    {"/par/net/wlan/inf/fccid", T::Text, "Q7S-WL03", "", RO, "wlan,cert"},
    {"/par/net/wlan/inf/ic", T::Text, "4417A-WL03", "", RO, "wlan,cert"},
};

constexpr ProfileDef kProfiles[] = {
    {"full", "rtk,modem,uhf,blt,wlan,cert,can,datum"},
    {"basic", "datum"},
};

constexpr ProfileValue kProfileValues[] = {
    {"basic", "/par/rcv/model", "Vireo-B1"},
    {"basic", "/par/rcv/sn", "VB1-08121"},
    {"basic", "/par/rcv/mem", "4096"},
    {"basic", "/par/opts/cur/RS_C", "0"},
    {"basic", "/par/opts/cur/RS_D", "0"},
    {"basic", "/par/opts/cur/_CAN", "0"},
    {"basic", "/par/opts/cur/_RTK", "0"},
    {"basic", "/par/opts/cur/MODM", "0"},
    {"basic", "/par/opts/cur/_UHF", "0"},
    {"basic", "/par/opts/cur/_BLT", "0"},
    {"basic", "/par/opts/cur/WLAN", "0"},
};
// clang-format on

}  // namespace

std::span<const ParamDef> ParamDefs()
{
    return kParams;
}

std::span<const ProfileDef> ProfileDefs()
{
    return kProfiles;
}

std::span<const ProfileValue> ProfileValues()
{
    return kProfileValues;
}
