// The live view's status decoders, from framed messages through the message table and the epoch copy to the
// snapshot. The input is a recipe of epochs: messages of the table with their layout's length (or shorter,
// longer, any), bodies from the input, right or wrong checksums, epoch ends, time-outs and target changes.
// Oracles: no fault, and a snapshot whose satellite rows have their list's column count.
#include "FuzzSupport.h"

#include "app/EpochDispatcher.h"
#include "app/MessageTable.h"
#include "link/Checksum.h"

#include <cstring>
#include <mutex>

namespace {

// Body lengths of the fixed layouts, checksum included; 0: one value per satellite.
int LayoutLength(const char* id)
{
    static const struct
    {
        const char* id;
        int length;
    } kLengths[] = {{"~~", 5},  {"RD", 6},  {"PG", 30}, {"PO", 30}, {"VE", 18}, {"PV", 46},
                    {"SG", 18}, {"DP", 18}, {"DO", 9},  {"OO", 5},  {"TT", 5},  {"XA", 10},
                    {"XB", 10}, {"GA", 47}, {"NA", 47}, {"SE", 6},  {"||", 1}};
    for (const auto& l : kLengths) {
        if (std::strcmp(l.id, id) == 0) {
            return l.length;
        }
    }
    return 0;
}

QByteArray Message(const char* id, const QByteArray& body)
{
    return QByteArray(id, 2) + QByteArray::number(body.size(), 16).toUpper().rightJustified(3, '0') + body;
}

// A binary message whose last body byte is its checksum.
QByteArray Checked(const char* id, const QByteArray& body, bool damage)
{
    QByteArray m = Message(id, body);
    m[m.size() - 1] = char(Checksum8(m.constData(), size_t(m.size() - 1)) ^ (damage ? 0x55 : 0));
    return m;
}

}  // namespace

void FuzzDecoders(const uint8_t* data, size_t size)
{
    CFuzzInput in(data, size);
    CEpochDispatcher dispatcher;
    std::mutex lock;
    const auto entries = MessageTableEntries();
    int satellites = 1 + in.Pick(24);
    while (!in.Empty()) {
        const int op = in.Pick(16);
        if (op == 0) {
            dispatcher.Feed(Message("||", "F"));
            dispatcher.TakeEpoch(lock);
            continue;
        }
        if (op == 1) {
            const int what = in.Pick(4);
            if (what == 0) {
                dispatcher.OnTimeout();
            } else if (what == 1) {
                dispatcher.Clear(lock);
            } else if (what == 2) {
                double lat = 0, lon = 0;
                const QByteArray bytes = in.Bytes(16).leftJustified(16, '\0');
                std::memcpy(&lat, bytes.constData(), 8);
                std::memcpy(&lon, bytes.constData() + 8, 8);
                dispatcher.State().SetTarget(lat, lon);
            } else {
                satellites = in.Pick(40);
            }
            continue;
        }
        if (op == 2) {  // a link status text with its "@HH"
            QByteArray text = "," + in.Text(40, "RTCMST,0123456789.{}") + ",@";
            QByteArray m = Message("MS", text + "00");
            m.chop(2);
            dispatcher.Feed(
                m +
                QByteArray::number(Checksum8(m.constData(), size_t(m.size())), 16).toUpper().rightJustified(2, '0'));
            continue;
        }
        const MessageTableEntry& e = entries[size_t(in.Pick(int(entries.size())))];
        const char* id = e.id;
        int length = LayoutLength(id);
        if (length == 0) {
            const int width = (std::strcmp(id, "TC") == 0) ? 2 : (std::strcmp(id, "DC") == 0) ? 4 : 1;
            length = width * satellites + (std::strcmp(id, "SS") == 0 ? 2 : 1);
        }
        const int shape = in.Pick(8);
        if (shape == 1) {
            length = in.Pick(length + 1);  // cut short
        } else if (shape == 2) {
            length += in.Pick(16);  // newer firmware with more fields
        } else if (shape == 3) {
            length = in.Pick(256);
        }
        QByteArray body = in.Bytes(size_t(length));
        if (std::strcmp(id, "SI") == 0 && shape == 0) {
            for (char& c : body) {  // mostly real satellite indices
                c = char(1 + uint8_t(c) % 142);
            }
        }
        body = body.leftJustified(length, '\0');
        dispatcher.Feed(length == 0 ? Message(id, body) : Checked(id, body, shape == 4));
    }
    dispatcher.Feed(Message("||", "F"));
    dispatcher.TakeEpoch(lock);

    const StatusSnapshot& s = dispatcher.Snapshot();
    for (int list = 0; list < kListCount; ++list) {
        for (const QStringList& row : s.lists[size_t(list)]) {
            if (row.size() != SatColumnCount(list)) {
                FuzzFail("decoders", "a satellite row with the wrong number of columns");
            }
        }
    }
}
