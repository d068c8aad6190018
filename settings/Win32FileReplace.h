// The one step of a save on Windows that the system may leave half done: ReplaceFileW.
// Tests put a call in its place that fails as Windows can (the old file already gone, or
// moved to the backup name), to check that a failed save loses neither copy.
#pragma once

// As ReplaceFileW(Replaced, Replacement, Backup, REPLACEFILE_IGNORE_MERGE_ERRORS): FALSE
// with GetLastError set on failure.
using TReplaceFileCall = int (*)(const wchar_t* Replaced, const wchar_t* Replacement,
                                 const wchar_t* Backup);
// Null gives the system's call back.
void SetReplaceFileCall(TReplaceFileCall Call);
