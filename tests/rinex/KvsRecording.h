#pragma once

// A KVS recording made from the simulator's message stream: the file identifier, then each epoch's frames as the
// receiver sends them (binary frames with their LF), as the logging run writes them.

#include "sim/MessageGenerator.h"

#include <QByteArray>

#include <functional>

inline const char* const kRawIds[] = {"~~", "RD", "SI", "NN", "EC", "E1", "E2", "DC", "FC", "F1", "F2",
                                      "RC", "R1", "R2", "PC", "P1", "P2", "PO", "GE", "NE", "||"};

// `edit` may change or drop a frame (return an empty array) before it is written.
inline QByteArray RecordKvs(CMessageGenerator& g, int64_t fromMs, int64_t toMs, int64_t stepMs = 1000,
                            const std::function<QByteArray(const char* id, int64_t t, QByteArray frame)>& edit = {})
{
    QByteArray out = "KV055RLOGF" + QByteArray("test recording").leftJustified(80, ' ') + "\r\n";
    ReceiverStatus status;
    for (int64_t t = fromMs; t <= toMs; t += stepMs) {
        if (t % 1000 == 0) {
            g.Step(t);
        }
        for (const char* id : kRawIds) {
            QByteArray f = g.Frames(QByteArray(id), t, stepMs, status);
            out += edit ? edit(id, t, f) : f;
        }
    }
    return out;
}
