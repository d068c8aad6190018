// Writing a file so that no reader ever sees half of it and a failed write leaves the old
// one as it was: a temporary file beside it, written, flushed to the disk, put in its place
// in one step, with the old file's permissions. A file per system: PosixFileReplace.cpp
// (owner and mode kept, rename), Win32FileReplace.cpp (ReplaceFileW keeps the old file's
// attributes and security, MoveFileExW for a new one).
#pragma once

#include <QByteArray>
#include <QString>

// The file Path finally names, following symbolic links (a relative link from the link's
// own folder), so that writing replaces the target and leaves the link. False when the
// links go round or too deep.
bool FollowLinks(const QString& Path, QString& Target);

// Replaces Target (created when missing) with Bytes. A file that may not be written
// (read-only) is refused, though the replacement would succeed. False with the reason in
// Error; Target is then as it was and no temporary file is left. The caller holds the save
// lock (SettingsLock.h).
// The temporary files are named ".<name>.<pid>-<16 hex digits>.tmp" (on Windows also
// ".bak" for the old file while ReplaceFileW puts the new one in its place), and those that
// a save left behind when its program died are removed first (on Windows only while the
// file itself is there). POSIX: in a folder where no file can be made (one the user may not
// write), a Target that may be written is rewritten in place instead: not in one step then,
// but flushed to the disk before true, and put back as it was when the rewrite fails
// part-way. Windows: when ReplaceFileW fails half-way, the replacement is finished or
// undone, so that the old file or the new one is in place.
bool ReplaceFileContent(const QString& Target, const QByteArray& Bytes, QString* Error);
