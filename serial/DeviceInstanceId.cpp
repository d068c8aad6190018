#include "serial/DeviceInstanceId.h"

#include <QRegularExpression>

void ReadInstanceIdentity(const QString& Instance, TPresentPort& Port) {
    // "FTDIBUS\VID_0403+PID_6001+A10K1234A\0000": the third field is the adapter's serial
    // number with the letter of its channel (A to D) after it, or a location the driver
    // made up (holding '&') for an adapter without one.
    static const QRegularExpression ftdi(
        QStringLiteral("^FTDIBUS\\\\VID_([0-9A-F]{4})\\+PID_([0-9A-F]{4})\\+([^\\\\]*)\\\\"),
        QRegularExpression::CaseInsensitiveOption);
    // "USB\VID_0403&PID_6001\A10K1234": the last part is the serial number unless Windows
    // made one up (it then holds '&').
    static const QRegularExpression usb(QStringLiteral("VID_([0-9A-F]{4})&PID_([0-9A-F]{4})"),
                                        QRegularExpression::CaseInsensitiveOption);
    QString serial;
    QRegularExpressionMatch match = ftdi.match(Instance);
    if (match.hasMatch()) {
        serial = match.captured(3);
        const bool channel = serial.size() > 1 && QStringLiteral("ABCD").contains(serial.back());
        serial = channel ? serial.chopped(1) : QString();
    } else {
        match = usb.match(Instance);
        if (!match.hasMatch()) {
            return;
        }
        if (Instance.startsWith(QStringLiteral("USB\\"), Qt::CaseInsensitive)) {
            serial = Instance.section(u'\\', -1);
        }
    }
    Port.VendorId = static_cast<uint16_t>(match.captured(1).toUInt(nullptr, 16));
    Port.ProductId = static_cast<uint16_t>(match.captured(2).toUInt(nullptr, 16));
    if (!serial.isEmpty() && !serial.contains(u'&')) {
        Port.SerialNumber = serial;
    }
}
