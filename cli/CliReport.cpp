#include "cli/CliReport.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

// The same file by any name: the same device and inode (file index on Windows). False
// when either does not exist.
bool IsSameFile(const QString& First, const QString& Second) {
    std::error_code error;
    return std::filesystem::equivalent(QFileInfo(First).filesystemFilePath(),
                                       QFileInfo(Second).filesystemFilePath(), error) &&
           !error;
}

// Every byte, or false: a short write is tried again, so that the error that stopped it
// (a full disk, a file size limit) is the one the file device reports.
bool WriteAll(QFileDevice& File, const QByteArray& Bytes) {
    qint64 done = 0;
    while (done < Bytes.size()) {
        const qint64 written = File.write(Bytes.constData() + done, Bytes.size() - done);
        if (written <= 0) {
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

bool TCliReport::Open(const QString& Path, const QList<TKeptFile>& Kept, QString& Error) {
    Wanted = !Path.isEmpty();
    FilePath.clear();
    if (!Wanted) {
        return true;
    }
    if (Path == QLatin1String("-")) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
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
    for (const TKeptFile& kept : Kept) {
        if (!kept.Path.isEmpty() && IsSameFile(Path, kept.Path)) {
            Error = QStringLiteral("--json: %1 is %2; the report would replace it")
                        .arg(Path, kept.What);
            return false;
        }
    }
    // Written as the report will be, then dropped: nothing is left and an existing file
    // is not touched.
    QSaveFile probe(Path);
    if (!probe.open(QIODevice::WriteOnly)) {
        Error = QStringLiteral("--json: cannot write %1: %2").arg(Path, probe.errorString());
        return false;
    }
    probe.cancelWriting();
    FilePath = Path;
    return true;
}

bool TCliReport::Write(QString& Error) {
    if (!Wanted) {
        return true;
    }
    const QByteArray text = QJsonDocument(Root).toJson(QJsonDocument::Indented);
    if (FilePath.isEmpty()) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered,
                      QFileDevice::DontCloseHandle) ||
            !WriteAll(out, text) || !out.flush()) {
            Error = QStringLiteral("cannot write the report to standard output: %1")
                        .arg(out.errorString());
            return false;
        }
        return true;
    }
    // Unbuffered: each write reaches the file at once, and one that fails keeps the
    // temporary file from being renamed (it is removed instead).
    QSaveFile file(FilePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !WriteAll(file, text) ||
        !file.commit()) {
        Error = QStringLiteral("cannot write the report %1: %2").arg(FilePath, file.errorString());
        return false;
    }
    return true;
}
