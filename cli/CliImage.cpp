#include "cli/CliImage.h"

#include "firmware/ImageSelection.h"
#include "shell/Main1.h"
#include "upgrade/ProgramRange.h"

#include <QCryptographicHash>
#include <QJsonArray>

namespace {

QString SentSha256(const TMainForm& Form) {
    const std::vector<uint8_t> sent =
        BytesToSend(Form.ImageBuffer, Form.BlockPresent, Form.LastProgramAddress);
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayView(sent.data(), static_cast<qsizetype>(sent.size())),
                                 QCryptographicHash::Sha256)
            .toHex());
}

QString Text(const std::string& Value) {
    return QString::fromStdString(Value);
}

} // namespace

void AddImageFacts(const TMainForm& Form, QJsonObject& Image) {
    const TImageSelection selection = Form.ImageSelection();
    QJsonArray leftOut;
    for (const TAddressRange& range : selection.LeftOut) {
        leftOut.append(QJsonObject{{"First", Text(AddressText(range.First))},
                                   {"Last", Text(AddressText(range.Last))},
                                   {"Bytes", static_cast<qint64>(range.Size())}});
    }
    Image.insert(QStringLiteral("Format"), QString::fromLatin1(ImageFormatName(Form.ImageFormat)));
    Image.insert(QStringLiteral("Blocks"), static_cast<qint64>(selection.BlocksSent));
    Image.insert(QStringLiteral("BlocksInRange"), static_cast<qint64>(selection.BlocksInRange));
    Image.insert(QStringLiteral("SentSha256"), SentSha256(Form));
    Image.insert(QStringLiteral("LeftOut"), leftOut);
    Image.insert(QStringLiteral("LeftOutBytes"), static_cast<qint64>(selection.LeftOutBytes));
}

QString ImageFactsText(const TMainForm& Form) {
    const TImageSelection selection = Form.ImageSelection();
    QString text =
        QStringLiteral("Image: %1, %2 of the %3 blocks of program memory %4 sent; SHA-256 of "
                       "the bytes sent %5\n")
            .arg(QString::fromLatin1(ImageFormatName(Form.ImageFormat)))
            .arg(selection.BlocksSent)
            .arg(selection.BlocksInRange)
            .arg(Text(RangeText({FirstProgramAddress, Form.LastProgramAddress})), SentSha256(Form));
    if (const std::string leftOut = LeftOutText(selection, Form.LastProgramAddress);
        !leftOut.empty()) {
        text += Text(leftOut) + QLatin1Char('\n');
    }
    return text;
}
