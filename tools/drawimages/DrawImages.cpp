// Draws the about box's two pictures into shell/images/: the program picture (a grey
// integrated-circuit chip on a transparent background, 66 x 52) and the pre-release stamp
// (a tilted, pale red BETA stamp, 130 x 66, transparent around it); and the Windows
// programs' icon, Chip.ico: the chip on square canvases of 16 to 256 pixels.
//   cmake -S tools/drawimages -B build-drawimages && cmake --build build-drawimages
//   QT_QPA_PLATFORM=offscreen build-drawimages/DrawImages shell/images
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdint>
#include <cstdio>

namespace {

// Drawn at Scale times its size (the icon's larger images are drawn, not enlarged).
QImage DrawChip(qreal Scale = 1) {
    QImage image(qRound(66 * Scale), qRound(52 * Scale), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(Scale, Scale);

    // Eight legs above and below the body.
    painter.setPen(Qt::NoPen);
    for (int leg = 0; leg < 8; ++leg) {
        const int x = 8 + leg * 7;
        painter.setBrush(QColor(176, 176, 176));
        painter.drawRect(QRectF(x, 3, 4, 8));
        painter.drawRect(QRectF(x, 41, 4, 8));
        painter.setBrush(QColor(120, 120, 120));
        painter.drawRect(QRectF(x + 3, 3, 1, 8));
        painter.drawRect(QRectF(x + 3, 41, 1, 8));
    }

    // The body: mid grey, lit from the top left.
    const QRectF body(3, 10, 60, 32);
    QLinearGradient shade(body.topLeft(), body.bottomRight());
    shade.setColorAt(0, QColor(150, 150, 150));
    shade.setColorAt(1, QColor(96, 96, 96));
    painter.setBrush(shade);
    painter.setPen(QPen(QColor(64, 64, 64), 1));
    painter.drawRoundedRect(body, 2, 2);

    // The notch at its left end and the pin-1 dot.
    painter.setBrush(QColor(88, 88, 88));
    painter.setPen(Qt::NoPen);
    painter.drawPie(QRectF(-2, 21, 10, 10), 90 * 16, -180 * 16);
    painter.setBrush(QColor(200, 200, 200));
    painter.drawEllipse(QRectF(9, 33, 4, 4));

    // A faint marking on the top face.
    painter.setPen(QColor(205, 205, 205));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(8);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(body.adjusted(8, 0, -4, 0), Qt::AlignCenter, QStringLiteral("CPU"));
    return image;
}

QImage DrawBetaStamp() {
    QImage image(130, 66, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(65, 33);
    painter.rotate(-12);

    const QColor ink(236, 128, 128, 230);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ink, 3));
    painter.drawRoundedRect(QRectF(-56, -22, 112, 44), 7, 7);
    painter.setPen(QPen(ink, 1.2));
    painter.drawRoundedRect(QRectF(-51, -17, 102, 34), 4, 4);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(26);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    QPainterPath word;
    word.addText(0, 0, font, QStringLiteral("BETA"));
    const QRectF bounds = word.boundingRect();
    painter.translate(-bounds.center());
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawPath(word);
    return image;
}

// The chip, drawn to fill the width of a square of Size pixels, centred.
QImage DrawIconImage(int Size) {
    QImage image(Size, Size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const QImage chip = DrawChip(Size / 66.0);
    QPainter painter(&image);
    painter.drawImage((Size - chip.width()) / 2, (Size - chip.height()) / 2, chip);
    return image;
}

void PutLittleEndian(QByteArray& Out, uint32_t Value, int Bytes) {
    for (int i = 0; i < Bytes; ++i) {
        Out.append(static_cast<char>((Value >> (8 * i)) & 0xFF));
    }
}

// An icon file whose images are PNG streams (as Windows Vista and later read them): the
// header, one directory entry per image, then the images.
bool SaveIcon(const QString& Path) {
    const int sizes[] = {16, 24, 32, 48, 64, 256};
    QList<QByteArray> images;
    for (const int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!DrawIconImage(size).save(&buffer, "PNG")) {
            return false;
        }
        images << png;
    }
    QByteArray icon;
    PutLittleEndian(icon, 0, 2); // reserved
    PutLittleEndian(icon, 1, 2); // an icon
    PutLittleEndian(icon, static_cast<uint32_t>(images.size()), 2);
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const int size = sizes[i];
        PutLittleEndian(icon, size == 256 ? 0 : static_cast<uint32_t>(size), 1); // 0 is 256
        PutLittleEndian(icon, size == 256 ? 0 : static_cast<uint32_t>(size), 1);
        PutLittleEndian(icon, 0, 1);  // no palette
        PutLittleEndian(icon, 0, 1);  // reserved
        PutLittleEndian(icon, 1, 2);  // colour planes
        PutLittleEndian(icon, 32, 2); // bits per pixel
        PutLittleEndian(icon, static_cast<uint32_t>(images[i].size()), 4);
        PutLittleEndian(icon, offset, 4);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const QByteArray& image : images) {
        icon += image;
    }
    QFile file(Path);
    return file.open(QIODevice::WriteOnly) && file.write(icon) == icon.size();
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QDir target(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    const bool saved = DrawChip().save(target.filePath(QStringLiteral("Chip.png"))) &&
                       DrawBetaStamp().save(target.filePath(QStringLiteral("BetaStamp.png"))) &&
                       SaveIcon(target.filePath(QStringLiteral("Chip.ico")));
    if (!saved) {
        std::fprintf(stderr, "cannot write the pictures into %s\n",
                     qPrintable(target.absolutePath()));
        return 1;
    }
    return 0;
}
