// The simulated receiver's parameters: one line per path. Add a parameter by adding its line; a value that
// depends on the receiver's state is marked Live and gets its provider in SimCommands.cpp.
//
// Models, serial numbers and certification ids are made up for the simulator.

#include "sim/ParamForms.h"
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
constexpr const char* kCanRates = "1000|500|250|125";
constexpr const char* kEchoPorts = "off|/dev/ser/a|/dev/ser/b|/dev/ser/c|/dev/ser/d|/dev/tcp/a|/dev/usb/a";
// Ports corrections may come from: the program's source table and the CAN ports it has no label for.
constexpr const char* kSourcePorts = "any|/dev/ser/a|/dev/ser/b|/dev/ser/c|/dev/ser/d|/dev/tcp/a|/dev/tcp/b|"
                                     "/dev/tcp/c|/dev/tcp/d|/dev/tcp/e|/dev/usb/a|/dev/blt/a|/dev/modem/a|"
                                     "/dev/can/a|/dev/can/b";
constexpr const char* kRefPos = "{W84,N50d05m13.20000s,E014d25m15.60000s,+245.0000}";
constexpr const char* kAllYes32 = "{y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y}";
// The datum codes a receiver with the datum feature knows; without it only W84 and P90.
constexpr const char* kDatums =
    "W84|P90|W72|ADI-M|ADI-E|ADI-F|ADI-A|ADI-C|ADI-D|ADI-B|AFG|ARF-M|ARF-A|ARF-H|ARF-B|ARF-C|ARF-D|"
    "ARF-E|ARF-F|ARF-G|ARS-M|ARS-A|ARS-B|PHA|BID|CAP|CGE|DAL|EUR_F|EUR_T|LEH|LIB|MAS|MER|MIN-A|MPO|"
    "NSD|OEG|PTB|PTN|SCK|SRL|VOR|AIN-A|AIN-B|BAT|EUR-H|HKD|HTN|IND-B|IND-I|INF-A|ING-A|ING-B|INH-A|"
    "IDN|KAN|KEA|NAH-A|NAH-B|NAH-C|FAH|QAT|SOA|TIL|TOY-M|TOY-A|TOY-B|TOY-C|AUA|AUG|EST|EUR-M|EUR-A|"
    "EUR-E|EUR-G|EUR-K|EUR-B|EUR-I|EUR-J|EUR-L|EUR-C|EUR-D|EUS|HJO|IRL|OGB-M|OGB-A|OGB-B|OGB-C|OGB-D|"
    "MOD|SPK-A|SPK-B|SPK-C|SPK-D|SPK-E|SPK-F|SPK-G|SPK-0|CCD|CAC|NAS-C|NAS-B|NAS-A|NAS-D|NAS-V|NAS-W|"
    "NAS-Q|NAS-R|NAS-E|NAS-F|NAS-G|NAS-H|NAS-I|NAS-J|NAS-O|NAS-P|NAS-N|NAS-T|NAS-U|NAS-L|NAR-A|NAR-E|"
    "NAR-B|NAR-C|NAR-H|NAR-D|BOO|CAI|CHU|COA|PRP-M|PRP-A|PRP-B|PRP-C|PRP-D|PRP-E|PRP-F|PRP-G|PRP-H|"
    "HIT|SAN-M|SAN-A|SAN-B|SAN-C|SAN-D|SAN-E|SAN-F|SAN-J|SAN-G|SAN-H|SAN-I|SAN-K|SAN-L|ZAN|AIA|ASC|"
    "SHB|BER|DID|FOT|GRA|ISG|LCF|ASM|NAP|FLO|PLN|POS|PUR|QUO|SAO|SAP|SGM|TDC|ANO|GAA|IST|KEG|MIK|REU|"
    "AMA|ATF|TRN|ASQ|IBE|CAO|CHI|GIZ|EAS|GEO|GUA|DOB|JOH|KUS|LUZ-A|LUZ-B|MID|OHA-M|OHA-A|OHA-B|OHA-C|"
    "OHA-D|PIT|SAE|MVS|ENW|WAK|BUR|CAZ|EUR-S|GSE|HEN|HER|IND-P|PUK|TAN|VOI|YAC|USER";

// Datum records: {{ellipsoid,axis,inverse flattening},{name,ref (0 W84, 1 P90),dX,dY,dZ,Rx,Ry,Rz,scale}}.
constexpr const char* kW84Record =
    "{{WGE,6378137.000,298.257223563},{W84,0,0.000,0.000,0.000,0.000,0.000,0.000,0.000}}";
constexpr const char* kP90Par =
    "{P90,0,-1.080,-0.270,-0.900,0.000,0.000,-0.160,-0.120}";
constexpr const char* kUserRecord =
    "{{U-,6378137.000,298.257223563},{USER,0,0.000,0.000,0.000,0.000,0.000,0.000,0.000}}";
constexpr const char* kW72Record =
    "{{WD,6378135.000,298.26},{W72,0,0.000,0.000,4.500,0.000,0.000,0.554,0.220}}";
constexpr const char* kEurMRecord =
    "{{IN,6378388.000,297.0},{EUR-M,0,-87.000,-98.000,-121.000,0.000,0.000,0.000,0.000}}";

// The rows every port of a kind has, for the port's path `dev` ("/par/dev/ser/a"). Macros, so that the table stays
// one array of literals whose order (the order of the receiver's directory listings) reads off the page.
#define SERIAL_LINE(dev)                                                                                             \
    {dev "/rate", T::Enum, "115200", kBauds, 0, ""}, {dev "/rtscts", T::Enum, "off", kOnOff, 0, ""},                 \
        {dev "/imode", T::Enum, "cmd", kInputModes, 0, ""}
#define ECHO(dev, needs)                                                                                             \
    {dev "/echo", T::Enum, "off", kEchoPorts, 0, needs}, {dev "/eoff", T::Enum, "off", kOnOff, 0, needs},            \
        {dev "/ewrap", T::Enum, "off", kOnOff, 0, needs}
#define CAN_PORT(dev, inFirst, outFirst)                                                                             \
    ECHO(dev, "can"), {dev "/rate", T::Enum, "250", kCanRates, 0, "can"},                                            \
        {dev "/sid/in/first", T::Int, inFirst, "0..2047", 0, "can"},                                                 \
        {dev "/sid/in/cnt", T::Int, "16", "0..2048", 0, "can"},                                                      \
        {dev "/sid/out/first", T::Int, outFirst, "0..2047", 0, "can"},                                               \
        {dev "/sid/out/cnt", T::Int, "16", "0..2048", 0, "can"}
#define PULSE_OUTPUT(dev)                                                                                            \
    {dev "/out", T::Enum, "off", kOnOff, 0, ""}, {dev "/per/ms", T::Int, "1000", "1..1000000", 0, ""},               \
        {dev "/offs/ms", T::Int, "0", "-500..500", 0, ""}, {dev "/offs/ns", T::Int, "0", "-999999..999999", 0, ""},  \
        {dev "/edge", T::Enum, "rise", "rise|fall", 0, ""},                                                          \
        {dev "/time", T::Enum, "gps", "gps|glo|utcusno|utcsu", 0, ""},                                               \
        {dev "/mper", T::Int, "0", "0..1000000", 0, "mper"}, {dev "/tied", T::Enum, "on", kOnOff, 0, ""}
#define EVENT_INPUT(dev)                                                                                             \
    {dev "/in", T::Enum, "off", kOnOff, 0, ""}, {dev "/lock", T::Enum, "off", kOnOff, 0, ""},                        \
        {dev "/locked", T::Text, "", "", LIVE, ""}, {dev "/edge", T::Enum, "rise", "rise|fall", 0, ""},              \
        {dev "/time", T::Enum, "gps", "gps|glo|utcusno|utcsu", 0, ""}, {dev "/tied", T::Enum, "off", kOnOff, 0, ""}

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
    {"/par/opts/cur/RS_D", T::Int, "115", "", RO, "!nord"},
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
    {"/par/pwr/ext", T::Real, "12.10", "", LIVE, ""},  // drifts over time
    {"/par/pwr/mode", T::Enum, "auto", "auto|mix|a|b|ext", 0, ""},
    {"/par/pwr/curmode", T::Text, "ext", "", RO, ""},
    {"/par/pwr/bat/a", T::Real, "8.20", "", RO, ""},
    {"/par/pwr/bat/b", T::Real, "0.00", "", RO, ""},
    {"/par/pwr/board", T::Real, "7.95", "", LIVE, ""},
    {"/par/pwr/charger", T::Real, "12.05", "", RO, ""},
    {"/par/pwr/charge/bat", T::Enum, "auto", "off|a|b|auto", 0, ""},
    {"/par/pwr/charge/curbat", T::Text, "a", "", RO, ""},
    {"/par/pwr/charge/speed", T::Enum, "fast", "normal|fast", 0, ""},
    {"/par/pwr/charge/curspeed", T::Text, "fast", "", RO, ""},
    {"/par/pwr/d3v", T::Real, "3.31", "", RO, ""},
    {"/par/pwr/a3v", T::Real, "3.29", "", RO, ""},
    {"/par/pwr/d5v", T::Real, "5.02", "", RO, ""},
    {"/par/pwr/a5v", T::Real, "4.98", "", RO, ""},
    {"/par/dev/thermo/out", T::Int, "37", "", LIVE, ""},

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
    {"/par/pos/mode/cur", T::Enum, "sp", "sp|cd|wd|pf|pd", 0, "rtk"},
    {"/par/pos/mode/cur", T::Enum, "sp", "sp|cd|wd", 0, ""},
    {"/par/pos/elm", T::Int, "5", "0..90", 0, ""},
    {"/par/pos/pdop", T::Real, "30.0", "1..1000", 0, ""},
    {"/par/pos/pd/reset", T::Enum, "off", kOnOff, MOM, "rtk"},
    {"/par/pos/datum/cur", T::Enum, "W84", kDatums, 0, "datum"},
    {"/par/pos/datum/cur", T::Enum, "W84", "W84|P90", 0, ""},
    {"/par/raw/msint", T::Int, "100", "10..5000", 0, ""},
    {"/par/raw/curmsint", T::Int, "100", "", RO, ""},
    {"/par/pos/msint", T::Int, "100", "10..5000", 0, ""},
    {"/par/pos/curmsint", T::Int, "100", "", RO, ""},
    {"/par/out/elm/cur/term", T::Int, "5", "-90..90", 0, ""},
    {"/par/out/elm/cur/log", T::Int, "5", "-90..90", 0, ""},
    {"/par/pos/mode/sp", T::Enum, "on", kOnOff, 0, ""},
    {"/par/pos/mode/cd", T::Enum, "on", kOnOff, 0, ""},
    {"/par/pos/mode/pf", T::Enum, "on", kOnOff, 0, "rtk"},
    {"/par/pos/mode/pd", T::Enum, "on", kOnOff, 0, "rtk"},
    {"/par/pos/sys", T::List, "{on,on,on,on}", "on|off*4", 0, ""},
    {"/par/pos/raim/mode", T::Enum, "off", kOnOff, 0, ""},
    {"/par/pos/raim/al/mode", T::Enum, "manual", "manual|npa|ter|enr", 0, ""},
    {"/par/pos/raim/al/manual", T::Real, "50.0", "1..10000", 0, ""},
    {"/par/pos/sp/meas", T::Enum, "ca", "ca|p1|p2|ionofree", 0, ""},
    {"/par/pos/sp/iono", T::Enum, "on", kOnOff, 0, ""},
    {"/par/pos/sp/tropo", T::Enum, "on", kOnOff, 0, ""},
    {"/par/lock/pcode", T::Enum, "on", kOnOff, 0, ""},
    // base: reference position, antenna offsets, RTCM and CMR base messages
    {"/par/ref/avg/mode", T::Enum, "off", kOnOff, 0, ""},
    {"/par/ref/avg/span", T::Int, "180", "1..86400", 0, ""},
    {"/par/ref/pos/gps/geo", T::Braced, kRefPos, "ref-pos", 0, ""},
    {"/par/ref/pos/glo/geo", T::Braced, kRefPos, "ref-pos", 0, ""},
    {"/par/ref/ant/l2_l1", T::Braced, "{0.0000,0.0000,0.0000}", "offsets", 0, "l2l1"},
    {"/par/rtcm/base/stid", T::Int, "0", "0..1023", 0, ""},
    {"/par/rtcm/base/svm", T::Int, "12", "4..31", 0, ""},
    {"/par/rtcm/base/health", T::Enum, "good", "good|bad|unknown", 0, ""},
    {"/par/rtcm/base/meas/ca", T::Enum, "on", kOnOff, 0, ""},
    {"/par/rtcm/base/meas/p1", T::Enum, "off", kOnOff, 0, ""},
    {"/par/rtcm/base/meas/p2", T::Enum, "on", kOnOff, 0, ""},
    {"/par/rtcm/base/sys", T::List, "{on,on}", "on|off*2", 0, ""},
    {"/par/rtcm/base/smooth", T::Enum, "off", kOnOff, 0, ""},
    {"/par/cmr/base/stid", T::Int, "0", "0..31", 0, "rtk"},
    {"/par/cmr/base/motion", T::Enum, "static", "unknown|static|kinematic", 0, "rtk"},
    {"/par/cmr/base/pcode", T::Enum, "off", kOnOff, 0, "rtk"},
    {"/par/cmr/base/meas/p2", T::Enum, "on", kOnOff, 0, "rtk"},
    {"/par/cmr/base/glo/type", T::Int, "5", "3..7", 0, "rtk,cmrglo"},
    {"/par/cmr/base/desc", T::Braced, "{\"BASE\",\"\",\"\"}", "cmr-desc", 0, "rtk"},
    // rover: code differential corrections, the RTK engine
    {"/par/pos/cd/src/mode", T::Enum, "any", "user|best|nearest|any", 0, ""},
    {"/par/pos/cd/src/usersrc", T::Int, "0", "0..1023", 0, ""},
    {"/par/pos/cd/maxage", T::Int, "30", "1..1200", 0, ""},
    {"/par/pos/cd/iono/maxage", T::Int, "600", "1..3600", 0, ""},
    {"/par/pos/cd/ionofree", T::Enum, "off", kOnOff, 0, ""},
    {"/par/pos/cd/port", T::Enum, "any", kSourcePorts, 0, ""},
    {"/par/pos/pd/mode", T::Enum, "extrap", "extrap|delay", 0, "rtk"},
    {"/par/pos/pd/dyn", T::Real, "1.0", "0..1", 0, "rtk"},
    {"/par/pos/pd/aflevel", T::Enum, "medium", "low|medium|high", 0, "rtk"},
    {"/par/pos/pd/meas/ca", T::Enum, "on", kOnOff, 0, "rtk"},
    {"/par/pos/pd/meas/p1", T::Enum, "off", kOnOff, 0, "rtk"},
    {"/par/pos/pd/meas/p2", T::Enum, "on", kOnOff, 0, "rtk"},
    {"/par/pos/pd/ref/keep", T::Enum, "off", kOnOff, 0, "rtk"},
    {"/par/pos/pd/period", T::Int, "1", "1..60", 0, "rtk"},
    {"/par/pos/pd/port", T::Enum, "any", kSourcePorts, 0, "rtk"},
    {"/par/cmr/rover/glo/type", T::Int, "5", "3..7", 0, "rtk,cmrglo"},
    // datum records and the P90 transformation
    {"/par/pos/datum/W84", T::Braced, kW84Record, "datum-user", RO, ""},
    {"/par/pos/datum/P90/ell", T::Braced, "{PZ-90,6378136.000,298.257839303}", "", RO, ""},
    {"/par/pos/datum/P90/par", T::Braced, kP90Par, "datum-par", 0, ""},
    {"/par/pos/datum/USER", T::Braced, kUserRecord, "datum-user", 0, ""},
    {"/par/pos/datum/W72", T::Braced, kW72Record, "datum-user", RO, "datum"},
    {"/par/pos/datum/EUR-M", T::Braced, kEurMRecord, "datum-user", RO, "datum"},
    // satellite lock and use lists, one y/n per satellite (GLONASS by frequency channel -7..12 and by slot)
    {"/par/lock/gps/sat", T::List, kAllYes32, "y|n*32", 0, ""},
    {"/par/pos/gps/sat", T::List, kAllYes32, "y|n*32", 0, ""},
    {"/par/lock/glo/fcn", T::List, "{y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y}", "y|n*20", 0, ""},
    {"/par/pos/glo/fcn", T::List, "{y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y}", "y|n*20", 0, ""},
    {"/par/pos/glo/sat", T::List, "{y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y}", "y|n*24", 0, ""},
    {"/par/lock/gal/sat", T::List, "{y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y}", "y|n*30", 0, ""},
    {"/par/pos/gal/sat", T::List, "{y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y}", "y|n*30", 0, ""},
    {"/par/lock/sbas/sat", T::List, "{y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y}", "y|n*19", 0, ""},
    {"/par/pos/sbas/sat", T::List, "{y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y,y}", "y|n*19", 0, ""},

    // --- general page: power outputs, charger current, low power mode; the ports and slots switches of the
    // models that have them, the older port-power switches of the others
    {"/par/pwr/chdc", T::Int, "1200", "", RO, ""},  // charger current in mA
    {"/par/pwr/extports", T::Real, "11.90", "", RO, ""},
    {"/par/lpm", T::Enum, "off", kOnOff, 0, ""},
    {"/par/pwr/ports", T::Enum, "on", "off|on|always", 0, "pwrslots"},
    {"/par/pwr/slots", T::Enum, "off", "off|on|always", 0, "pwrslots"},
    {"/par/pwr/out/ab", T::Enum, "on", kOnOff, 0, "pwrout"},
    {"/par/pwr/out/c", T::Enum, "off", kOnOff, 0, "pwrout"},
    {"/par/pwr/switch/2", T::Enum, "on", kOnOff, 0, ""},
    {"/par/pwr/switch/3", T::Enum, "on", kOnOff, 0, ""},
    {"/par/pwr/switch/4", T::Enum, "off", kOnOff, 0, ""},
    // recording started from the front panel
    {"/par/log/sc/period", T::Real, "1.00", "0.01..86400", 0, ""},
    {"/par/cmd/create/prefix", T::Quoted, "LOG", "20", 0, ""},
    {"/par/button/file", T::Quoted, "", "32", 0, ""},
    {"/par/button/rot", T::Enum, "off", kOnOff, 0, ""},
    {"/par/log/rot/sc/period", T::Int, "3600", "60..86400", 0, ""},
    {"/par/log/rot/sc/phase", T::Int, "0", "0..86400", 0, ""},
    {"/par/log/rot/sc/count", T::Int, "24", "1..1000", 0, ""},
    {"/par/log/rot/count", T::Int, "24", "", RO, ""},
    {"/par/log/rot/rmold", T::Enum, "off", kOnOff, 0, ""},
    {"/par/button/action", T::Enum, "led", "led|dyn", 0, ""},
    {"/par/button/dyn", T::Enum, "static", "static|dynamic", 0, ""},
    {"/par/button/auto", T::Enum, "off", "off|on|always", 0, ""},
    // pulse outputs and event inputs; "mper" marks some pulses, "locked" is the live state of the clock lock
    PULSE_OUTPUT("/par/dev/pps/a"),
    PULSE_OUTPUT("/par/dev/pps/b"),
    EVENT_INPUT("/par/dev/event/a"),
    EVENT_INPUT("/par/dev/event/b"),
    // tracking: anti-jamming, multipath, loops, the external frequency and the oscillator, smoothing
    {"/par/ajm/mode", T::Enum, "n", "y|n", 0, ""},
    {"/par/ajm/band", T::List, "{y,y,n,y,y}", "y|n*5", 0, ""},
    {"/par/raw/corr/ca/code", T::Enum, "mpnew", "mpnew|normal", 0, ""},
    {"/par/raw/corr/ca/carrier", T::Enum, "mpnew", "mpnew|normal", 0, ""},
    {"/par/raw/pll/band", T::Real, "25.0", "2..50", 0, ""},
    {"/par/raw/pll/order", T::Int, "3", "2..3", 0, ""},
    {"/par/raw/cagdl/band", T::Real, "1.0", "0.1..50", 0, ""},
    {"/par/raw/gdl/adapt", T::Enum, "on", kOnOff, 0, ""},
    {"/par/frq/mode", T::Enum, "off", "off|use|gen", 0, ""},
    {"/par/frq/in/frq", T::Int, "10", "5..40", 0, ""},
    {"/par/frq/in/status", T::Text, "", "", LIVE, ""},
    {"/par/frq/in/amp", T::Text, "", "", LIVE, ""},
    {"/par/frq/out/frq", T::Text, "", "", LIVE, "frqout"},
    {"/par/osc/mode", T::Enum, "off", "off|locked|tied", 0, ""},
    {"/par/raw/smi", T::Int, "100", "0..900", 0, ""},
    {"/par/raw/dopp/smi", T::Real, "10.0", "0.1..100", 0, ""},
    {"/par/raw/iono/smi", T::Int, "300", "0..900", 0, ""},
    {"/par/raw/iono/minsmi", T::Int, "60", "0..900", 0, ""},

    // --- ports
    SERIAL_LINE("/par/dev/ser/a"),
    SERIAL_LINE("/par/dev/ser/b"),
    SERIAL_LINE("/par/dev/ser/c"),
    SERIAL_LINE("/par/dev/ser/d"),
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

    // --- the port pages: per-port echo and line settings, CAN, Ethernet, Wi-Fi, the GSM modem, the antenna
    // reference point
    ECHO("/par/dev/ser/a", ""),
    {"/par/dev/ser/a/stops", T::Enum, "1", "1|2", 0, ""},
    ECHO("/par/dev/ser/b", ""),
    {"/par/dev/ser/b/stops", T::Enum, "1", "1|2", 0, ""},
    ECHO("/par/dev/ser/c", ""),
    {"/par/dev/ser/c/stops", T::Enum, "1", "1|2", 0, ""},
    ECHO("/par/dev/ser/d", ""),
    {"/par/dev/ser/d/stops", T::Enum, "1", "1|2", 0, ""},
    ECHO("/par/dev/tcp/a", ""),
    ECHO("/par/dev/tcp/b", ""),
    ECHO("/par/dev/tcp/c", ""),
    ECHO("/par/dev/tcp/d", ""),
    ECHO("/par/dev/tcp/e", ""),
    ECHO("/par/dev/usb/a", ""),
    CAN_PORT("/par/dev/can/a", "256", "512"),
    CAN_PORT("/par/dev/can/b", "768", "1024"),
    {"/par/net/ip/addr", T::Braced, "192.168.3.1", "ipv4", 0, ""},
    {"/par/net/ip/mask", T::Braced, "255.255.255.0", "ipv4", 0, ""},
    {"/par/net/ip/gw", T::Braced, "192.168.3.254", "ipv4", 0, ""},
    {"/par/net/tcp/timeout", T::Int, "300", "1..86400", 0, ""},
    {"/par/net/ftp/port", T::Int, "21", "1..65535", 0, ""},
    {"/par/net/ftp/timeout", T::Int, "300", "1..86400", 0, ""},
    {"/par/net/wlan/mode", T::Enum, "off", kOnOff, 0, "wlan"},
    {"/par/net/wlan/ip/addr", T::Braced, "192.168.4.1", "ipv4", 0, "wlan"},
    {"/par/net/wlan/ip/gw", T::Braced, "192.168.4.254", "ipv4", 0, "wlan"},
    {"/par/net/wlan/ip/mask", T::Braced, "255.255.255.0", "ipv4", 0, "wlan"},
    {"/par/net/wlan/ap/id", T::Braced, "\"00:1A:2B:3C:4D:5E\"", "mac", 0, "wlan"},
    {"/par/net/wlan/ap/key1", T::Quoted, "", "26", 0, "wlan"},
    {"/par/net/wlan/ap/key2", T::Quoted, "", "26", 0, "wlan"},
    {"/par/net/wlan/ap/key3", T::Quoted, "", "26", 0, "wlan"},
    {"/par/net/wlan/ap/key4", T::Quoted, "", "26", 0, "wlan"},
    {"/par/modem/c/mode", T::Enum, "off", "off|master|slave", 0, "modem,!modemb"},
    {"/par/modem/c/pin", T::Quoted, "", "8", 0, "modem,!modemb"},
    {"/par/modem/b/mode", T::Enum, "off", "off|master|slave", 0, "modemb"},
    {"/par/modem/b/pin", T::Quoted, "", "8", 0, "modemb"},
    {"/par/ref/arp/gps/geo", T::Braced, kRefPos, "ref-pos", 0, ""},
    {"/par/ref/arp/glo/geo", T::Braced, kRefPos, "ref-pos", 0, ""},

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
    {"full", "rtk,modem,uhf,blt,wlan,cert,can,datum,l2l1,cmrglo,mper,frqout,pwrout"},
    {"basic", "datum,pwrout"},  // no marked pulses, no frequency output
    {"lite", "rtk,pwrout,mper,frqout"},  // no datum feature
    // Earlier firmware: 2.1 has neither the antenna offsets nor the CMR GLONASS message type; 2.2 has both.
    {"fw21", "rtk,blt,modem,pwrout"},
    {"fw22", "rtk,blt,modem,datum,l2l1,cmrglo,pwrout,mper,frqout"},
    // The port pages' receivers: serial features 511, 115, 0 and 1500 with no USB; a model with modem b.
    {"ports", "rtk,can,blt,wlan,modem,datum,pwrout,mper,frqout"},
    {"arven", "rtk,blt,modem,modemb,datum,nord,pwrout,mper,frqout"},  // and no serial feature value for port D
    // A receiver model with switchable power on its ports and slots.
    {"korvan", "rtk,datum,pwrslots,mper,frqout"},
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
    {"lite", "/par/rcv/model", "Vireo-L2"},
    {"lite", "/par/rcv/sn", "VL2-11030"},
    {"lite", "/par/opts/cur/_DTM", "0"},
    {"fw21", "/par/rcv/model", "Vireo-R2"},
    {"fw21", "/par/rcv/ver/main", "2.1.7"},
    {"fw21", "/par/version/main", "2.1.7 2009-02-11"},
    {"fw21", "/par/opts/cur/_DTM", "0"},
    {"fw22", "/par/rcv/model", "Vireo-R2"},
    {"korvan", "/par/rcv/model", "KORVAN"},
    {"korvan", "/par/rcv/ver/board", "KVS_3.1"},
    {"fw22", "/par/rcv/ver/main", "2.2.0"},
    {"fw22", "/par/version/main", "2.2.0 2009-06-30"},
    {"ports", "/par/opts/cur/RS_A", "511"},
    {"ports", "/par/opts/cur/RS_B", "115"},
    {"ports", "/par/opts/cur/RS_C", "0"},
    {"ports", "/par/opts/cur/RS_D", "1500"},
    {"ports", "/par/opts/cur/_USB", "0"},
    {"arven", "/par/rcv/model", "ARVEN-G5"},
    {"arven", "/par/opts/cur/_CAN", "0"},
    {"arven", "/par/opts/cur/WLAN", "0"},
};
// clang-format on
#undef SERIAL_LINE
#undef ECHO
#undef CAN_PORT
#undef PULSE_OUTPUT
#undef EVENT_INPUT

// Older and newer paths of one parameter (sim/ParamForms.h).
constexpr ParamAlias kAliases[] = {
    {"/par/pos/meas", "/par/pos/sp/meas"},
    {"/par/pos/iono", "/par/pos/sp/iono"},
    {"/par/pos/tropo", "/par/pos/sp/tropo"},
};

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

std::span<const ParamAlias> ParamAliases()
{
    return kAliases;
}
