#include "shell/ChipIcon.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

QIcon ChipIcon() {
    QFile file(QStringLiteral(":/images/Chip.ico"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray data = file.readAll();
    // The icon file: a 6-byte header whose last 16-bit number counts the images, then a
    // 16-byte entry per image ending in its length and offset (32 bits each). Its images
    // are PNG streams (tools/drawimages writes them so), which Qt reads without a plugin.
    constexpr qsizetype HeaderSize = 6;
    constexpr qsizetype EntrySize = 16;
    if (data.size() < HeaderSize) {
        return {};
    }
    const qsizetype count = qFromLittleEndian<quint16>(data.constData() + 4);
    QIcon icon;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype entry = HeaderSize + i * EntrySize;
        if (entry + EntrySize > data.size()) {
            break;
        }
        const qsizetype length = qFromLittleEndian<quint32>(data.constData() + entry + 8);
        const qsizetype offset = qFromLittleEndian<quint32>(data.constData() + entry + 12);
        QImage image;
        if (offset + length <= data.size() && image.loadFromData(data.mid(offset, length), "PNG")) {
            icon.addPixmap(QPixmap::fromImage(image));
        }
    }
    return icon;
}
