#include "tools/unitsim/SimReport.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>

namespace {

QString ModeName(TUnitMode Mode) {
    return Mode == TUnitMode::Boot ? QStringLiteral("boot") : QStringLiteral("running");
}

QString Address(uint32_t Value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(Value));
    return QString::fromLatin1(text);
}

bool RangeFits(const std::vector<uint8_t>& Flash, const TFlashRange& Range) {
    return Range.First <= Range.Last && Range.Last < Flash.size();
}

// {"19": {"20": 5516, ...}, ...}
QJsonObject RegisterTable(const std::map<TRegisterKey, uint16_t>& Registers) {
    QJsonObject table;
    for (const auto& [Key, Value] : Registers) {
        const QString slave = QString::number(Key.first);
        QJsonObject row = table.value(slave).toObject();
        row.insert(QString::number(Key.second), Value);
        table.insert(slave, row);
    }
    return table;
}

} // namespace

std::string HexBytes(const std::vector<uint8_t>& Bytes) {
    std::string text;
    text.reserve(Bytes.size() * 3);
    for (uint8_t byte : Bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, text.empty() ? "%02X" : " %02X", byte);
        text += pair;
    }
    return text;
}

std::string FlashDigest(const std::vector<uint8_t>& Flash, const TFlashRange& Range) {
    if (!RangeFits(Flash, Range)) {
        return {};
    }
    const QByteArray bytes(reinterpret_cast<const char*>(Flash.data()) + Range.First,
                           static_cast<qsizetype>(Range.Last - Range.First + 1));
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

std::string ReportToJson(const TUnitSimReport& Report, const std::vector<TFlashRange>& Ranges) {
    QJsonObject root;
    root.insert("Mode", ModeName(Report.Mode));
    root.insert("Restarting", Report.Restarting);
    root.insert("FirmwareVersion", Report.FirmwareVersion);
    root.insert("Erases", static_cast<qint64>(Report.Erases));
    root.insert("Writes", static_cast<qint64>(Report.Writes));
    root.insert("BootEntries", static_cast<qint64>(Report.BootEntries));
    root.insert("Restarts", static_cast<qint64>(Report.Restarts));
    root.insert("BootModeLeft", Report.BootModeLeft);
    root.insert("HangUps", static_cast<qint64>(Report.HangUps));
    root.insert("ClockStartNs", static_cast<qint64>(Report.ClockStartNs));

    QJsonObject flash;
    flash.insert("Sha256", QString::fromStdString(FlashDigest(Report.Flash, {0, 0xFFFF})));
    QJsonArray rangeList;
    for (const TFlashRange& range : Ranges) {
        QJsonObject entry;
        entry.insert("First", Address(range.First));
        entry.insert("Last", Address(range.Last));
        if (RangeFits(Report.Flash, range)) {
            entry.insert("Sha256", QString::fromStdString(FlashDigest(Report.Flash, range)));
            const std::vector<uint8_t> bytes(Report.Flash.begin() + range.First,
                                             Report.Flash.begin() + range.Last + 1);
            entry.insert("Hex", QString::fromStdString(HexBytes(bytes)));
        } else {
            entry.insert("Error", "outside 0x0000..0xFFFF");
        }
        rangeList.append(entry);
    }
    flash.insert("Ranges", rangeList);
    root.insert("Flash", flash);

    QJsonArray faults;
    for (const std::string& fault : Report.UpdaterFaults) {
        faults.append(QString::fromStdString(fault));
    }
    root.insert("UpdaterFaults", faults);
    root.insert("Registers", RegisterTable(Report.Registers));
    root.insert("Commits", static_cast<qint64>(Report.Commits));
    root.insert("CommittedSettings", Report.Commits == 0
                                         ? QJsonValue(QJsonValue::Null)
                                         : QJsonValue(RegisterTable(Report.CommittedSettings)));

    QJsonArray frames;
    for (const TSimFrame& frame : Report.Frames) {
        QJsonObject entry;
        entry.insert("TimeMs", frame.TimeMs);
        entry.insert("Direction", frame.FromUpdater ? "in" : "out");
        entry.insert("Rate", static_cast<qint64>(frame.Rate));
        entry.insert("Mode", ModeName(frame.Mode));
        entry.insert("Hex", QString::fromStdString(HexBytes(frame.Bytes)));
        entry.insert("Verdict", QString::fromStdString(frame.Verdict));
        frames.append(entry);
    }
    root.insert("Frames", frames);
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}
