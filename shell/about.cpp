#include "shell/about.h"

#include "shell/VersionInfo.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <cstddef>
#include <vector>

const std::array<const char*, 10> VersionKeys = {
    "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTradeMarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};

namespace {

constexpr int FileDescriptionIndex = 1;
constexpr int FileVersionIndex = 2;
constexpr int LegalCopyrightIndex = 4;

// A bevel that draws only its bottom edge, lowered: a shadow line over a light one.
class TBottomLineBevel : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const int bottom = height() - 1;
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawLine(0, bottom - 1, width() - 1, bottom - 1);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawLine(0, bottom, width() - 1, bottom);
    }
};

uint16_t LittleEndian16(const uint8_t* At) {
    return static_cast<uint16_t>(At[0] | (At[1] << 8));
}

uint32_t LittleEndian32(const uint8_t* At) {
    return LittleEndian16(At) | (static_cast<uint32_t>(LittleEndian16(At + 2)) << 16);
}

// Four upper-case hexadecimal digits.
QString HexWord(uint16_t Value) {
    return QStringLiteral("%1").arg(Value, 4, 16, QChar(u'0')).toUpper();
}

QLabel* MakeLabel(QWidget* Parent, const QString& Text, int Left, int Top) {
    auto* label = new QLabel(Text, Parent);
    label->setTextFormat(Qt::PlainText); // version strings are shown, never interpreted
    label->move(Left, Top);
    label->adjustSize();
    return label;
}

QLabel* MakePicture(QWidget* Parent, const QString& Resource, const QRect& Geometry) {
    auto* picture = new QLabel(Parent);
    picture->setGeometry(Geometry);
    picture->setAlignment(Qt::AlignCenter);
    picture->setPixmap(QPixmap(Resource));
    return picture;
}

} // namespace

QString VersionBuildText(const QString& FileVersion) {
    const qsizetype lastDot = FileVersion.lastIndexOf(u'.');
    const QString version = lastDot < 0 ? QString() : FileVersion.left(lastDot);
    const QString build = FileVersion.mid(lastDot + 1);
    return QStringLiteral("Version ") + version + QStringLiteral("  Build ") + build;
}

TAboutBox::TAboutBox(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("About...."));
    setFixedSize(337, 193);

    // Created first so that it lies beneath the text.
    Image2 = MakePicture(this, QStringLiteral(":/images/BetaStamp.png"), QRect(8, 8, 321, 137));
    Image2->hide();

    Label1 = MakeLabel(this, QStringLiteral("Label1"), 99, 16);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setFixedSize(222, 25);
    Label2 = MakeLabel(this, QStringLiteral("Label2"), 99, 48);
    Label3 = MakeLabel(this, QStringLiteral("Label3"), 99, 80);

    Bevel1 = new TBottomLineBevel(this);
    Bevel1->setGeometry(8, 136, 321, 17);
    Bevel2 = new QFrame(this);
    Bevel2->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel2->setGeometry(8, 8, 81, 81);
    Image1 = MakePicture(this, QStringLiteral(":/images/Chip.png"), QRect(17, 24, 66, 52));

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setGeometry(136, 160, 65, 25);
    OKButton->setDefault(true);
    OKButton->setFocus();
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    ReadVersionInfo();
}

void TAboutBox::ReadVersionInfo() {
    VersionStrings.fill(QStringLiteral("N/A"));
    const QString programFile = QCoreApplication::applicationFilePath();
    const uint32_t size = TVersionInfo::BlockSize(programFile);
    if (size == 0) {
        Image2->hide();
        return; // no version information: the labels keep what they show
    }

    bool prerelease = false;
    {
        std::vector<uint8_t> block(size);
        if (TVersionInfo::ReadBlock(programFile, size, block.data())) {
            const uint8_t* value = nullptr;
            uint32_t length = 0;
            if (TVersionInfo::QueryValue(block, QStringLiteral("\\VarFileInfo\\Translation"),
                                         &value, &length) &&
                length >= 4) {
                const QString prefix = QStringLiteral("StringFileInfo\\") +
                                       HexWord(LittleEndian16(value)) +
                                       HexWord(LittleEndian16(value + 2)) + u'\\';
                for (size_t i = 0; i < VersionKeys.size(); ++i) {
                    if (TVersionInfo::QueryValue(block, prefix + QLatin1String(VersionKeys[i]),
                                                 &value, &length)) {
                        VersionStrings[i] = TVersionInfo::ValueText(block, value, length);
                    }
                }
            }
            if (TVersionInfo::QueryValue(block, QStringLiteral("\\"), &value, &length) &&
                length >= sizeof(TFixedFileInfo)) {
                const uint32_t mask =
                    LittleEndian32(value + offsetof(TFixedFileInfo, FileFlagsMask));
                const uint32_t flags = LittleEndian32(value + offsetof(TFixedFileInfo, FileFlags));
                prerelease = (flags & mask & VS_FF_PRERELEASE) != 0;
            }
        }
    } // the block is released here, on every path

    Label1->setText(VersionStrings[FileDescriptionIndex]);
    Label2->setText(VersionBuildText(VersionStrings[FileVersionIndex]));
    Label2->adjustSize();
    Label3->setText(VersionStrings[LegalCopyrightIndex]);
    Label3->adjustSize();
    Image2->setVisible(prerelease);
}
