// The texts of open failures that read the same on every system.
#include "serial/OpenFailure.h"

#include <QLocale>

QString GroupedNumber(uint64_t Number) {
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(qulonglong(Number));
}

QString CommonReason(const TOpenFailure& Failure, const QString& Port) {
    switch (Failure.Kind) {
    case TOpenFailureKind::RateRefused:
        if (Failure.AskedRate == 0) {
            return Port + QStringLiteral(": a bit rate of 0 baud is not possible.");
        }
        if (Failure.ActualRate == 0) {
            return QStringLiteral("%1: the adapter cannot run at %2 baud. Use an adapter that can.")
                .arg(Port, GroupedNumber(Failure.AskedRate));
        }
        return QStringLiteral("%1: the adapter cannot run at %2 baud (its driver gives %3). Use "
                              "an adapter that can.")
            .arg(Port, GroupedNumber(Failure.AskedRate), GroupedNumber(Failure.ActualRate));
    case TOpenFailureKind::DeviceChanged:
        return QStringLiteral("%1 no longer leads to %2, the device this update began on. The "
                              "update stops rather than go on with another device: check which "
                              "adapter the unit is on, and start again.")
            .arg(Port, Failure.PinnedDevice);
    case TOpenFailureKind::None:
    case TOpenFailureKind::NotConnected:
    case TOpenFailureKind::NoPermission:
    case TOpenFailureKind::InUse:
    case TOpenFailureKind::NotATty:
    case TOpenFailureKind::Other:
    case TOpenFailureKind::NameNotFound:
    case TOpenFailureKind::Unreachable:
    case TOpenFailureKind::NoAnswer:
        break;
    }
    return {};
}
