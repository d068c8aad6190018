// LoadSettings and SaveSettings: the COM port number in "Bootload.Ini". A file that is
// there but cannot be read as INI text is never rewritten: the INI writer would replace
// it with the few keys it understood. (Its own verdict on a file cannot be relied on: it
// caches what it read, so a second reader in the same process sees no error.)
#include "shell/Settings.h"

#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "settings/RegularFile.h"

#include <QByteArray>
#include <QSettings>
#include <QStringConverter>
#include <QStringList>

#include <optional>

namespace {

constexpr const char* CommsPortKey = "Options/Comms_Port";
// Far more than a settings file needs; anything longer is not one.
constexpr size_t MaxSettingsFileSize = 1024 * 1024;

// The file's text, or nothing when it is binary or not UTF-8.
std::optional<QString> DecodeText(const QByteArray& Bytes) {
    if (Bytes.contains('\0')) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(Bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

// Every line is blank, a ';' comment, a section header or a key with '='. The INI writer
// keeps only what it could read, so a file with any other line is not rewritten.
bool LooksLikeIni(const QString& Text) {
    const QStringList lines = Text.split(u'\n');
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u';')) {
            continue;
        }
        if (trimmed.startsWith(u'[') ? !trimmed.endsWith(u']') : !trimmed.contains(u'=')) {
            return false;
        }
    }
    return true;
}

} // namespace

int32_t ParseCommsPortValue(const QString& Text) {
    const QString value = Text.trimmed();
    bool ok = false;
    int32_t number = 1;
    if (value.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        // Eight hex digits at most: a 32-bit pattern, as the value is stored.
        const QString digits = value.mid(2);
        const uint32_t pattern = digits.size() <= 8 ? digits.toUInt(&ok, 16) : 0;
        number = static_cast<int32_t>(pattern);
    } else {
        number = value.toInt(&ok, 10);
    }
    return ok ? number : 1;
}

TSettingsFileState InspectSettingsFile(const QString& Path) {
    const TRegularFileContent file = ReadRegularFile(Path, MaxSettingsFileSize);
    switch (file.State) {
    case TRegularFileState::Missing:
        return TSettingsFileState::Missing;
    case TRegularFileState::NotAFile:
        return TSettingsFileState::NotAFile;
    case TRegularFileState::Unreadable:
        return TSettingsFileState::Unreadable;
    case TRegularFileState::Read:
        break;
    }
    if (file.Truncated) {
        return TSettingsFileState::NotIni;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(file.Bytes.data()),
                           static_cast<qsizetype>(file.Bytes.size()));
    const std::optional<QString> text = DecodeText(bytes);
    if (!text || !LooksLikeIni(*text)) {
        return TSettingsFileState::NotIni;
    }
    return TSettingsFileState::Usable;
}

void TMainForm::LoadSettings() {
    const QString path = SettingsDir + SettingsFileName;
    CommsPortNumber = 1;
    switch (InspectSettingsFile(path)) {
    case TSettingsFileState::Missing:
        SaveSettings();
        return;
    case TSettingsFileState::Usable: {
        const QSettings settings(path, QSettings::IniFormat);
        const QVariant value = settings.value(CommsPortKey);
        // A value with a comma reads as a list; it is not a number either way.
        CommsPortNumber = ParseCommsPortValue(
            value.typeId() == QMetaType::QString ? value.toString() : QString());
        return;
    }
    case TSettingsFileState::NotAFile:
    case TSettingsFileState::Unreadable:
    case TSettingsFileState::NotIni:
        TModalSeam::ShowError(this, QStringLiteral("Unable to read %1").arg(path));
        return;
    }
}

bool TMainForm::SaveSettings() {
    const QString path = SettingsDir + SettingsFileName;
    const TSettingsFileState state = InspectSettingsFile(path);
    bool written = false;
    if (state == TSettingsFileState::Missing || state == TSettingsFileState::Usable) {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(CommsPortKey, CommsPortNumber);
        settings.sync();
        written = settings.status() == QSettings::NoError;
    }
    if (!written) {
        TModalSeam::ShowError(this, QStringLiteral("Unable to write to %1").arg(path));
    }
    return written;
}
