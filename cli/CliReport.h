// The JSON report of one run: its place checked before anything else happens, written once
// at the end, whole or not at all.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// A file the report must never replace, and what it is ("the settings file").
struct TKeptFile {
    QString Path;
    QString What;
};

class TCliReport {
public:
    // Path "-" is standard output; an empty path means no report. False, with the reason,
    // when the report could not be written there, or when Path is one of Kept by any name
    // (a link to it, or the same file by device and inode): the caller then starts
    // nothing. Nothing is written yet.
    bool Open(const QString& Path, const QList<TKeptFile>& Kept, QString& Error);
    bool IsWanted() const { return Wanted; }
    // Writes Root: to a temporary file beside the report's, renamed to it once complete,
    // so an existing file is replaced only by a whole report. False, with the reason, when
    // that fails; the existing file is then as it was.
    bool Write(QString& Error);

    QJsonObject Root;

private:
    bool Wanted = false;
    QString FilePath; // empty for standard output
};
