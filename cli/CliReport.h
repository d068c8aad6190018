// The JSON report of one run: opened (and so checked) before anything else happens,
// written once at the end.
#pragma once

#include <QFile>
#include <QJsonObject>
#include <QString>

class TCliReport {
public:
    // Path "-" is standard output; an empty path means no report. False, with the reason,
    // when the file cannot be written: the caller then starts nothing.
    bool Open(const QString& Path, QString& Error);
    bool IsWanted() const { return Wanted; }
    // Writes Root; false, with the reason, when that fails.
    bool Write(QString& Error);

    QJsonObject Root;

private:
    bool Wanted = false;
    QFile File;
};
