// Collects the bootload.serial trace while it lives.
#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

class TSerialTrace {
public:
    TSerialTrace() {
        Lines().clear();
        QLoggingCategory::setFilterRules(QStringLiteral("bootload.serial.debug=true"));
        Previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& Text) { Lines() << Text; });
    }
    ~TSerialTrace() {
        qInstallMessageHandler(Previous);
        QLoggingCategory::setFilterRules(QString());
    }
    TSerialTrace(const TSerialTrace&) = delete;
    TSerialTrace& operator=(const TSerialTrace&) = delete;
    QString Text() const { return Lines().join('\n'); }

private:
    static QStringList& Lines() {
        static QStringList collected;
        return collected;
    }
    QtMessageHandler Previous = nullptr;
};
