// Collects the bootload.serial trace while it lives. The receive thread traces too, so the
// lines are collected under a lock.
#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <mutex>

class TSerialTrace {
public:
    TSerialTrace() {
        {
            const std::lock_guard<std::mutex> guard(Lock());
            Lines().clear();
        }
        QLoggingCategory::setFilterRules(QStringLiteral("bootload.serial.debug=true"));
        Previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& Text) {
                const std::lock_guard<std::mutex> guard(Lock());
                Lines() << Text;
            });
    }
    ~TSerialTrace() {
        qInstallMessageHandler(Previous);
        QLoggingCategory::setFilterRules(QString());
    }
    TSerialTrace(const TSerialTrace&) = delete;
    TSerialTrace& operator=(const TSerialTrace&) = delete;
    QString Text() const {
        const std::lock_guard<std::mutex> guard(Lock());
        return Lines().join('\n');
    }
    bool Has(const QString& Part) const { return Text().contains(Part); }

private:
    static std::mutex& Lock() {
        static std::mutex lock;
        return lock;
    }
    static QStringList& Lines() {
        static QStringList collected;
        return collected;
    }
    QtMessageHandler Previous = nullptr;
};
