// LoadSettings and SaveSettings: the COM port number in "Bootload.Ini". The file is one
// people edit by hand: it is read as they wrote it and only the one value is ever changed
// (settings/IniFile.h). A file that cannot be a settings file is reported and never
// rewritten.
#include "shell/Settings.h"

#include "settings/IniFile.h"
#include "shell/Main1.h"
#include "shell/ModalSeam.h"

#include <optional>

namespace {

constexpr char16_t OptionsSection[] = u"Options";
constexpr char16_t CommsPortKey[] = u"Comms_Port";

} // namespace

int32_t ParseCommsPortValue(const QString& Text) {
    return CommsPortNumberOf(Text).value_or(1);
}

std::optional<int32_t> CommsPortNumberOf(const QString& Text) {
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
    if (!ok) {
        return std::nullopt;
    }
    return number;
}

void TMainForm::LoadSettings() {
    const QString path = SettingsDir + SettingsFileName;
    CommsPortNumber = 1;
    const TIniFile file = TIniFile::Read(path);
    switch (file.State) {
    case TIniFileState::Missing:
        SaveSettings();
        return;
    case TIniFileState::Usable:
        CommsPortNumber = ParseCommsPortValue(
            IniValue(file.Bytes, OptionsSection, CommsPortKey).value_or(QString()));
        return;
    case TIniFileState::NotAFile:
    case TIniFileState::Unreadable:
    case TIniFileState::NotIni:
        TModalSeam::ShowError(this, QStringLiteral("Unable to read %1").arg(path));
        return;
    }
}

bool TMainForm::SaveSettings() {
    const QString path = SettingsDir + SettingsFileName;
    // A value that already spells this number (0x0A for 10) is left as its author wrote it.
    const TIniFile file = TIniFile::Read(path);
    if (file.State == TIniFileState::Usable &&
        CommsPortNumberOf(IniValue(file.Bytes, OptionsSection, CommsPortKey).value_or(QString())) ==
            CommsPortNumber) {
        return true;
    }
    const bool written =
        WriteIniValue(path, OptionsSection, CommsPortKey, QString::number(CommsPortNumber));
    if (!written) {
        TModalSeam::ShowError(this, QStringLiteral("Unable to write to %1").arg(path));
    }
    return written;
}
