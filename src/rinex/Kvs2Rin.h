#pragma once

#include <QStringList>

// The converter's exit codes (what the program's conversion task turns into words).
namespace Kvs2RinExit {
enum : int {
    Ok = 0,
    ReadError = 1,
    NotKvs = 2,
    CorruptData = 3,  // the file was written, but data were skipped
    Internal = 5,
    BadTime = 10,
    NameTooLong = 11,
    OutputError = 12,
    NoObservations = 13,   // nothing to write (no raw data, or every signal excluded); no file is written
    BadCommandLine = 255,  // -1 as a process sees it
};
}

// kvs2rin: -i <input.kvs> [-o <folder>] [-p <profile.ini>] [-G] [-R] [-L1] [-L2] [--nav]
// Writes <folder>/<RINEX 3 long name> (the input's folder when -o is missing), with --nav also the navigation file
// (the same name with the period and "MN" in place of the rate and "MO"). `report` gets one line per fault.
// `outputPath` (optional) gets the observation file written.
int RunKvs2Rin(const QStringList& args, QString* report, QString* outputPath = nullptr);
