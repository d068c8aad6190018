// Makes the desktop icon from the about box's chip picture: the picture scaled to the
// icon's width and centred on a square transparent canvas, as icon themes want.
//   bootload_package_icon SOURCE.png SIZE TARGET.png
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: bootload_package_icon SOURCE.png SIZE TARGET.png\n", stderr);
        return 2;
    }
    const QImage picture(QString::fromLocal8Bit(argv[1]));
    char* end = nullptr;
    const long size = std::strtol(argv[2], &end, 10);
    if (picture.isNull() || *end != '\0' || size < 16 || size > 512) {
        std::fprintf(stderr, "cannot read %s, or size %s out of range\n", argv[1], argv[2]);
        return 1;
    }
    const int side = static_cast<int>(size);
    const QImage scaled = picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage icon(side, side, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.drawImage((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled);
    painter.end();
    if (!icon.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
