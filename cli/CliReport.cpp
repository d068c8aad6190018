#include "cli/CliReport.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

bool TCliReport::Open(const QString& Path, QString& Error) {
    Wanted = !Path.isEmpty();
    if (!Wanted) {
        return true;
    }
    if (Path == QLatin1String("-")) {
        if (!File.open(stdout, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            Error = QStringLiteral("--json: cannot write to standard output");
            return false;
        }
        return true;
    }
    const QFileInfo info(Path);
    // A FIFO or device would block the open or take a report it cannot hold.
    if (info.exists() && !info.isFile()) {
        Error = QStringLiteral("--json: %1 is not a regular file").arg(Path);
        return false;
    }
    File.setFileName(Path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Error = QStringLiteral("--json: cannot write %1: %2").arg(Path, File.errorString());
        return false;
    }
    return true;
}

bool TCliReport::Write(QString& Error) {
    if (!Wanted) {
        return true;
    }
    const QByteArray text = QJsonDocument(Root).toJson(QJsonDocument::Indented);
    if (File.write(text) != text.size() || !File.flush()) {
        Error = QStringLiteral("cannot write the report %1: %2")
                    .arg(File.fileName().isEmpty() ? QStringLiteral("-") : File.fileName(),
                         File.errorString());
        return false;
    }
    File.close();
    return true;
}
