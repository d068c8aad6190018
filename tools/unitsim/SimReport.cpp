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
    char Text[16];
    std::snprintf(Text, sizeof Text, "0x%04X", static_cast<unsigned>(Value));
    return QString::fromLatin1(Text);
}

bool RangeFits(const std::vector<uint8_t>& Flash, const TFlashRange& Range) {
    return Range.First <= Range.Last && Range.Last < Flash.size();
}

// {"19": {"20": 5516, ...}, ...}
QJsonObject RegisterTable(const std::map<TRegisterKey, uint16_t>& Registers) {
    QJsonObject Table;
    for (const auto& [Key, Value] : Registers) {
        const QString Slave = QString::number(Key.first);
        QJsonObject Row = Table.value(Slave).toObject();
        Row.insert(QString::number(Key.second), Value);
        Table.insert(Slave, Row);
    }
    return Table;
}

} // namespace

std::string HexBytes(const std::vector<uint8_t>& Bytes) {
    std::string Text;
    Text.reserve(Bytes.size() * 3);
    for (uint8_t Byte : Bytes) {
        char Pair[4];
        std::snprintf(Pair, sizeof Pair, Text.empty() ? "%02X" : " %02X", Byte);
        Text += Pair;
    }
    return Text;
}

std::string FlashDigest(const std::vector<uint8_t>& Flash, const TFlashRange& Range) {
    if (!RangeFits(Flash, Range)) {
        return {};
    }
    const QByteArray Bytes(reinterpret_cast<const char*>(Flash.data()) + Range.First,
                           static_cast<qsizetype>(Range.Last - Range.First + 1));
    return QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

std::string ReportToJson(const TUnitSimReport& Report, const std::vector<TFlashRange>& Ranges) {
    QJsonObject Root;
    Root.insert("Mode", ModeName(Report.Mode));
    Root.insert("Restarting", Report.Restarting);
    Root.insert("FirmwareVersion", Report.FirmwareVersion);
    Root.insert("Erases", static_cast<qint64>(Report.Erases));
    Root.insert("Writes", static_cast<qint64>(Report.Writes));
    Root.insert("BootEntries", static_cast<qint64>(Report.BootEntries));
    Root.insert("Restarts", static_cast<qint64>(Report.Restarts));
    Root.insert("BootModeLeft", Report.BootModeLeft);
    Root.insert("HangUps", static_cast<qint64>(Report.HangUps));

    QJsonObject Flash;
    Flash.insert("Sha256", QString::fromStdString(FlashDigest(Report.Flash, {0, 0xFFFF})));
    QJsonArray RangeList;
    for (const TFlashRange& Range : Ranges) {
        QJsonObject Entry;
        Entry.insert("First", Address(Range.First));
        Entry.insert("Last", Address(Range.Last));
        if (RangeFits(Report.Flash, Range)) {
            Entry.insert("Sha256", QString::fromStdString(FlashDigest(Report.Flash, Range)));
            const std::vector<uint8_t> Bytes(Report.Flash.begin() + Range.First,
                                             Report.Flash.begin() + Range.Last + 1);
            Entry.insert("Hex", QString::fromStdString(HexBytes(Bytes)));
        } else {
            Entry.insert("Error", "outside 0x0000..0xFFFF");
        }
        RangeList.append(Entry);
    }
    Flash.insert("Ranges", RangeList);
    Root.insert("Flash", Flash);

    QJsonArray Faults;
    for (const std::string& Fault : Report.UpdaterFaults) {
        Faults.append(QString::fromStdString(Fault));
    }
    Root.insert("UpdaterFaults", Faults);
    Root.insert("Registers", RegisterTable(Report.Registers));
    Root.insert("Commits", static_cast<qint64>(Report.Commits));
    Root.insert("CommittedSettings", Report.Commits == 0
                                         ? QJsonValue(QJsonValue::Null)
                                         : QJsonValue(RegisterTable(Report.CommittedSettings)));

    QJsonArray Frames;
    for (const TSimFrame& Frame : Report.Frames) {
        QJsonObject Entry;
        Entry.insert("TimeMs", Frame.TimeMs);
        Entry.insert("Direction", Frame.FromUpdater ? "in" : "out");
        Entry.insert("Rate", static_cast<qint64>(Frame.Rate));
        Entry.insert("Mode", ModeName(Frame.Mode));
        Entry.insert("Hex", QString::fromStdString(HexBytes(Frame.Bytes)));
        Entry.insert("Verdict", QString::fromStdString(Frame.Verdict));
        Frames.append(Entry);
    }
    Root.insert("Frames", Frames);
    return QJsonDocument(Root).toJson(QJsonDocument::Indented).toStdString();
}
