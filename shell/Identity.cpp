// The firmware image and the numbers that identify it: read from the program's
// resources at start-up, or from a file by the hidden Load File command.
#include "firmware/ImageLayout.h"
#include "settings/RegularFile.h"
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/ProductTable.h"

#include <QAction>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr const char* ResourceDir = ":/firmware";
constexpr size_t ImageSize = 65536;

// The path of the named resource, matched without regard to case; empty when absent.
QString FindResource(const QString& Name) {
    QDirIterator entries(QString::fromLatin1(ResourceDir), QDir::Files);
    while (entries.hasNext()) {
        entries.next();
        if (entries.fileName().compare(Name, Qt::CaseInsensitive) == 0) {
            return entries.filePath();
        }
    }
    return QString();
}

// A typed number as a 32-bit integer: decimal, or hexadecimal after $, 0x or 0X;
// surrounding blanks allowed. Nothing for anything else (Cancel gives the empty text).
std::optional<int32_t> ParseIntegerText(const QString& Text) {
    QString digits = Text.trimmed();
    bool negative = false;
    if (digits.startsWith(u'-') || digits.startsWith(u'+')) {
        negative = digits.startsWith(u'-');
        digits.remove(0, 1);
    }
    int base = 10;
    if (digits.startsWith(u'$')) {
        base = 16;
        digits.remove(0, 1);
    } else if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        digits.remove(0, 2);
    }
    if (digits.isEmpty() || digits.startsWith(u'+') || digits.startsWith(u'-')) {
        return std::nullopt;
    }
    bool ok = false;
    const qulonglong magnitude = digits.toULongLong(&ok, base);
    if (!ok) {
        return std::nullopt;
    }
    // Hexadecimal may spell any 32-bit pattern; decimal must fit the signed range.
    if (base == 16 && !negative && magnitude <= 0xFFFFFFFFull) {
        return static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    }
    const long long value = negative ? -static_cast<long long>(magnitude) : magnitude;
    if (magnitude > 0x80000000ull || value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

} // namespace

uint16_t TMainForm::ReadResourceNumber(const QString& Name) {
    QFile resource(FindResource(Name));
    if (resource.fileName().isEmpty() || !resource.open(QIODevice::ReadOnly)) {
        IdentityComplete = false;
        TModalSeam::ShowError(this, QStringLiteral("Resource %1 not found").arg(Name));
        return 0;
    }
    const QByteArray bytes = resource.read(2);
    uint16_t value = 0;
    if (bytes.size() >= 1) {
        value = static_cast<uint8_t>(bytes[0]);
    }
    if (bytes.size() >= 2) {
        value |= static_cast<uint16_t>(static_cast<uint8_t>(bytes[1]) << 8);
    }
    return value;
}

void TMainForm::SetProgramLimit() {
    if (const std::optional<uint32_t> limit = ProgramLimitFor(ProcessorNumber)) {
        LastProgramAddress = *limit;
    }
}

void TMainForm::LoadEmbeddedImage() {
    QFile resource(FindResource(QStringLiteral("HFILE")));
    if (resource.fileName().isEmpty() || !resource.open(QIODevice::ReadOnly)) {
        TModalSeam::ShowError(this, QStringLiteral("Resource %1 not found").arg("HFILE"));
        return;
    }
    const QByteArray bytes = resource.read(ImageSize);
    std::memcpy(ImageBuffer.data(), bytes.constData(), static_cast<size_t>(bytes.size()));
    ImageFormat = TImageFormat::Raw;
    ImageGiven.clear();
    if (!bytes.isEmpty()) {
        ImageGiven.push_back({0, static_cast<uint32_t>(bytes.size() - 1)});
    }
    BlockPresent.fill(1);
    // A build from a HEX file carries what the file gave; its blocks are the ones sent.
    if (const QString layoutPath = FindResource(QStringLiteral("HLAYOUT")); !layoutPath.isEmpty()) {
        QFile layoutFile(layoutPath);
        const QByteArray text = layoutFile.open(QIODevice::ReadOnly) ? layoutFile.readAll() : "";
        const std::optional<TImageLayout> layout =
            ReadImageLayout(std::string_view(text.constData(), static_cast<size_t>(text.size())));
        if (!layout) {
            TModalSeam::ShowError(this, QStringLiteral("Resource %1 is damaged").arg("HLAYOUT"));
            return;
        }
        if (layout->Format == TImageFormat::IntelHex) {
            ImageFormat = TImageFormat::IntelHex;
            ImageGiven = layout->Given;
            BlockPresent = BlockFlagsOf(ImageGiven);
        }
    }
    ImageLoaded = true;
    LogDataLeftOut();
}

bool TMainForm::LoadImageFile(const QString& Path) {
    // A HEX file needs all of it; of a raw image only the first 64 KiB count.
    const TRegularFileContent file = ReadRegularFile(Path, HexFileLimit);
    if (file.State != TRegularFileState::Read) {
        TModalSeam::ShowError(this, QStringLiteral("Cannot open file %1").arg(Path));
        return false;
    }
    const TImageReadResult read = ReadFirmwareImage(file.Bytes, file.Truncated);
    if (!read.Image) {
        TModalSeam::ShowError(this, QStringLiteral("Cannot load file %1: %2")
                                        .arg(Path, QString::fromStdString(read.Error)));
        return false;
    }
    const TFirmwareImage& image = *read.Image;
    // A raw file replaces as many bytes as it has; a HEX file the whole image.
    const size_t length = image.Format == TImageFormat::Raw ? image.RawLength : ImageSize;
    std::memcpy(ImageBuffer.data(), image.Bytes.data(), length);
    BlockPresent = image.BlockPresent;
    ImageFormat = image.Format;
    ImageGiven = image.Given;
    return true;
}

TImageSelection TMainForm::ImageSelection() const {
    return SelectForProgram(ImageFormat, ImageGiven, BlockPresent, LastProgramAddress);
}

void TMainForm::LogDataLeftOut() {
    const std::string text = LeftOutText(ImageSelection(), LastProgramAddress);
    if (!text.empty()) {
        AppendPlainLogLine(QString::fromStdString(text));
    }
}

void TMainForm::LoadFile1Click() {
    // The image is read by a run in progress; it is not replaced underneath it.
    if (RunInProgress()) {
        return;
    }
    bool accepted = false;
    const QString path = TModalSeam::OpenFileName(this, &accepted);
    if (!accepted || !LoadImageFile(path)) {
        return;
    }
    // Asks for a number; nothing (after telling the operator) when the answer is none.
    const auto askNumber = [this](const QString& Caption,
                                  const QString& Prompt) -> std::optional<int32_t> {
        bool answered = false;
        const QString answer = TModalSeam::InputText(this, Caption, Prompt, &answered);
        const std::optional<int32_t> number = ParseIntegerText(answer);
        if (!number) {
            TModalSeam::ShowError(this,
                                  QStringLiteral("'%1' is not a valid integer value").arg(answer));
        }
        return number;
    };
    const std::optional<int32_t> processor =
        askNumber(QStringLiteral("Enter Processor No."), QStringLiteral("Processor No."));
    if (!processor) {
        return;
    }
    ProcessorNumber = static_cast<uint16_t>(*processor);
    SetProgramLimit();
    const std::optional<int32_t> model =
        askNumber(QStringLiteral("Enter RM No."), QStringLiteral("RM No."));
    if (!model) {
        return;
    }
    ModelNumber = static_cast<uint16_t>(*model);
    ExpectedModelNumber = ModelNumber;
    AppendPlainLogLine(QStringLiteral("New File Loaded...RM%1").arg(ModelNumber));
    LogDataLeftOut();
    // The operator has now given the image and its numbers.
    ImageLoaded = true;
    IdentityComplete = true;
    UpdateStartButton();
}

void TMainForm::ApplyProductIdentity() {
    IdentityComplete = true;
    ProcessorNumber = ReadResourceNumber(QStringLiteral("PROC_NUM"));
    SetProgramLimit();
    ModelNumber = ReadResourceNumber(QStringLiteral("RM_NUM"));
    FirmwareVersion = ReadResourceNumber(QStringLiteral("FW_VER"));
    ExpectedModelNumber = ModelNumber;
    CommandPause = -1;
    const TProductIdentity identity = LookUpProduct(ModelNumber, FirmwareVersion);
    ExpectedModelNumber = identity.ExpectedModelNumber;
    CommandPause = identity.CommandPause;
    if (identity.ShowSlaveAddress) {
        SlvAdd_GroupBox->show();
    }
    ApplicationTitle() = QString::fromStdString(identity.Title);
}
