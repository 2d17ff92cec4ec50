#pragma once

#include "link/FileListing.h"  // FileNameProblem, PrintableName

#include <QString>

#include <cstdint>

// UI-free pieces of the receiver file tools, shared by the file manager and nemola-files.

// Date "dd.MM.yyyy" and time "hh:mm:ss" of a receiver file time (seconds since 1988-01-01 UTC), in UTC. A time
// outside 1988..9999 gives the date "invalid" and the raw number as its time.
QString FileDateText(int64_t time);
QString FileTimeText(int64_t time);

// "%7.2f KBps" of `bytes` received in `ms` milliseconds (whole seconds, at least one).
QString SpeedText(int64_t bytes, int64_t ms);
// The download bar's position 0..100 (integer arithmetic, 64-bit sizes); a total of 0 is done.
int DownloadPercent(int64_t received, int64_t total);
// The file-system initialisation's position: 100 - remaining / total * 100, clamped to 0..100; a total of 0 or
// done at or past the total is 100.
int FsinitPercent(int64_t total, int64_t done);
bool FsinitFinished(int64_t total, int64_t done);

// The local path for a target name in a folder: the name trimmed, refused (empty result, `why` set) when it is
// not a plain file name or when a name the download makes of it (the partial file's note) would be too long.
// The folder gets its trailing separator.
QString TargetPath(const QString& folder, const QString& targetName, QString* why);
QString WithTrailingSeparator(const QString& folder);
// A writable folder of the user's for downloads (the program's own folder is not writable once installed).
QString DefaultDownloadFolder();
// Where a chooser opens: the folder remembered from its last use while it still exists, else the user's documents
// folder for the program (DefaultDownloadFolder).
QString ChooserFolder(const QString& remembered);
// The folder of a chosen file, to be remembered for the chooser's next use.
QString FolderOf(const QString& path);
