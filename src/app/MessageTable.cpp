#include "app/MessageTable.h"

namespace {

constexpr MessageTableEntry kEntries[] = {
    {"||", GPSDATA::kKeepAll},
    {"~~", 0},
    {"RD", 0},
    {"SI", 0},
    {"NN", 0},
    {"EL", 0},
    {"AZ", 0},
    {"EC", 0},
    {"E1", 0},
    {"E2", 0},
    {"E3", 0},
    {"E5", 0},
    {"TC", 0},
    {"SS", 0},
    {"DC", 0},
    {"PV", 0},
    {"PO", 0},
    {"VE", 0},
    {"PG", 0},
    {"DO", 0},
    {"OO", 0},
    {"TT", 0},
    {"DP", 0},
    {"GA", 0},
    {"NA", 0},
    {"MS", GPSDATA::kKeepAll},
    {"SG", GPSDATA::kKeepAll},
    {"XA", GPSDATA::kKeepAll},
    {"XB", GPSDATA::kKeepAll},
    {"SE", 0},
};

}  // namespace

const char* const kLocalMessageSet =
    "PG,PV,DP,MS,RT,RD,OO,TT,XA,XB,SG,SI,SE,NN,EL,DO,GA,NA,DC,AZ,EC,E1,E2,E3,E5,TC,SS,EE";
const char* const kRemoteMessageSet = "PG,PV,DP,MS,RT,RD,OO,TT,XA,SG,SI,SE,NN,EL,DO,GA,NA,DC,AZ,EC,TC,SS,EE";

std::span<const MessageTableEntry> MessageTableEntries()
{
    return kEntries;
}

GpsDataTable BuildMessageTable(const GPSDATA::Handler& handler)
{
    GpsDataTable table;
    table.reserve(std::size(kEntries) + 1);
    for (const MessageTableEntry& e : kEntries) {
        GPSDATA entry;
        entry.id = MsgId(e.id[0], e.id[1]);
        if (entry.id != MsgId('|', '|')) {
            entry.handler = handler;
        }
        entry.flag = e.flag;
        table.push_back(std::move(entry));
    }
    table.push_back(GPSDATA{});
    return table;
}

QString MessageSetFor(bool localServerConnection)
{
    return QLatin1String(localServerConnection ? kLocalMessageSet : kRemoteMessageSet);
}
