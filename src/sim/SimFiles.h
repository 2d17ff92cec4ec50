#pragma once

#include "sim/Simulator.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class CSimCore;
struct SimSession;

// One file in the receiver's memory. `time` counts seconds since 1988-01-01 00:00 UTC.
struct SimFile
{
    QByteArray content;
    int64_t time = 0;
};

// A running "get" of one session: the receiver sends a block and waits for the host's answer.
struct SimTransfer
{
    QString name;
    int blockSize = 512;
    int64_t pos = 0;           // file offset of the current block
    uint16_t number = 0;       // block number on the wire, wraps after 65535
    int index = 0;             // blocks sent in this get, for the fault schedule
    uint16_t crcBefore = 0;    // chain value before the current block
    uint16_t crcAfter = 0;     // and after it
    QByteArray current;        // the current block as first built
    bool currentLast = false;  // the current block is the last one (or an error block)
    int timeoutMs = 5000;
    int64_t deadlineMs = 0;
};

// The receiver's memory: files, the current log file, file-system initialisation, and the faults tests inject.
// Guarded by the core's mutex like everything of CSimCore.
struct SimFiles
{
    std::map<QString, SimFile> files;
    QString current;  // name of the current log file (logging when the "/cur/log" output has messages)

    // "print,stat/fsinit" answers these {total,done} pairs one per query; the last one stays.
    std::vector<std::pair<int64_t, int64_t>> fsinitSteps;
    size_t fsinitNext = 0;
    bool haveRwStats = true;
    int64_t reads = 1200, writes = 845;

    std::map<SimTransferFault, int> transferFaults;  // fault -> block index it hits (once)
    SimListingFault listingFault = SimListingFault::None;
    int countDelta = 0;  // "files" reports this many more (or fewer) than the listing holds

    int64_t UsedBytes() const;
};

// The content of a new log file: the file identifier and format frames, then `size` bytes in all of a recorded
// message stream (deterministic for a seed).
QByteArray SimLogContent(int64_t size, uint32_t seed);
QByteArray SimLogHeader();
// One frame of that header ("KV" or "MF"), with its CR LF, as the receiver outputs it when asked.
QByteArray SimLogHeaderFrame(const QByteArray& id);

// Commands of the memory. Each returns an empty text on success or the receiver's error text.
QByteArray SimCreateFile(CSimCore& core, const QString& arg);
QByteArray SimRemoveFile(CSimCore& core, const QString& arg);
QByteArray SimStartGet(CSimCore& core, SimSession& session, const QString& args);
QByteArray SimInitFileSystem(CSimCore& core);
// "print" values of the memory; false when `path` is none of them.
bool SimFilesValue(const CSimCore& core, const QString& path, QString* value);

// Host bytes while a transfer runs; the session leaves transfer mode when it ends.
void SimTransferInput(CSimCore& core, SimSession& session, char c);
// Ends transfers whose host stayed silent past the receiver's time-out.
void SimTransferTick(CSimCore& core, int64_t nowMs);
