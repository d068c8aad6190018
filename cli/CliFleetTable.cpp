#include "cli/CliFleetTable.h"

#include "cli/CliOutcome.h"

#include <QJsonValue>

#include <optional>

namespace {

const QString None = QStringLiteral("-");

QString VersionText(int Version) {
    return QString::asprintf("%d.%.2d", Version / 100, Version % 100);
}

int StatusOf(const QJsonObject& Report) {
    return Report.value(QStringLiteral("ExitStatus")).toInt(static_cast<int>(TCliStatus::Unknown));
}

bool IsCurrent(const QJsonObject& Report) {
    return StatusOf(Report) == 0 &&
           Report.value(QStringLiteral("Outcome")).toString() == QLatin1String("current");
}

struct TVersion {
    std::optional<int> Number; // x 100
    QString Text;
};

// As the unit ran before: its firmware's version, or "bootloader" when only its
// bootloader answered.
TVersion Before(const QJsonObject& Report) {
    const QJsonObject unit = Report.value(QStringLiteral("Unit")).toObject();
    if (const int version = unit.value(QStringLiteral("FirmwareVersion")).toInt(); version > 0) {
        return {version, VersionText(version)};
    }
    if (unit.value(QStringLiteral("Bootloader")).toString().startsWith(QLatin1String("RM"))) {
        return {std::nullopt, QStringLiteral("bootloader")};
    }
    return {std::nullopt, None};
}

// The image's version once it is written; as before when nothing was written; none when
// program memory was left partly erased or written; "?" when the run's end is unknown.
TVersion After(const QJsonObject& Report) {
    switch (static_cast<TCliStatus>(StatusOf(Report))) {
    case TCliStatus::Complete:
    case TCliStatus::SettingsNotRestored:
        if (!IsCurrent(Report)) {
            const int version = Report.value(QStringLiteral("Image"))
                                    .toObject()
                                    .value(QStringLiteral("FirmwareVersion"))
                                    .toInt();
            return {version, VersionText(version)};
        }
        return Before(Report);
    case TCliStatus::EraseError:
    case TCliStatus::WriteError:
        return {std::nullopt, None};
    case TCliStatus::Unknown:
    case TCliStatus::ReportNotWritten:
    case TCliStatus::SomeUnitsFailed:
        return {std::nullopt, QStringLiteral("?")};
    default:
        return Before(Report);
    }
}

QJsonValue JsonNumber(const std::optional<int>& Number) {
    return Number ? QJsonValue(*Number) : QJsonValue(QJsonValue::Null);
}

// Model, firmware version and state of a surveyed unit.
QStringList SurveyCells(const TUnitEnd& Unit) {
    const QJsonObject unit = Unit.Report.value(QStringLiteral("Unit")).toObject();
    const QString mode = unit.value(QStringLiteral("Mode")).toString();
    const QString model = unit.contains(QStringLiteral("Model"))
                              ? QString::number(unit.value(QStringLiteral("Model")).toInt())
                              : None;
    if (mode == QLatin1String("running")) {
        return {model, VersionText(unit.value(QStringLiteral("FirmwareVersion")).toInt()),
                QStringLiteral("running")};
    }
    if (mode == QLatin1String("bootloader")) {
        return {model, None, QStringLiteral("bootloader")};
    }
    if (mode == QLatin1String("none")) {
        return {None, None, QStringLiteral("silent")};
    }
    return {None, None, Unit.Report.value(QStringLiteral("Outcome")).toString()};
}

QStringList UpdateCells(const TUnitEnd& Unit) {
    return {Unit.Report.value(QStringLiteral("Outcome")).toString(),
            QString::number(Unit.Seconds, 'f', 1), Before(Unit.Report).Text,
            After(Unit.Report).Text};
}

} // namespace

TFleetOutcome FleetOutcome(const QList<TUnitEnd>& Units, bool Identify) {
    int done = 0;
    int current = 0;
    for (const TUnitEnd& unit : Units) {
        if (IsCurrent(unit.Report)) {
            ++current;
        } else if (StatusOf(unit.Report) == 0) {
            ++done;
        }
    }
    const int failed = static_cast<int>(Units.size()) - done - current;
    TFleetOutcome outcome;
    outcome.Status = failed > 0 ? static_cast<int>(TCliStatus::SomeUnitsFailed) : 0;
    if (Identify) {
        outcome.Text = QStringLiteral("%1 units: %2 identified, %3 not")
                           .arg(Units.size())
                           .arg(done)
                           .arg(failed);
        outcome.Counts =
            QJsonObject{{"Units", Units.size()}, {"Identified", done}, {"Failed", failed}};
    } else {
        outcome.Text = QStringLiteral("%1 units: %2 complete, %3 current, %4 failed")
                           .arg(Units.size())
                           .arg(done)
                           .arg(current)
                           .arg(failed);
        outcome.Counts = QJsonObject{
            {"Units", Units.size()}, {"Complete", done}, {"Current", current}, {"Failed", failed}};
    }
    return outcome;
}

QString SummaryTable(const QList<TUnitEnd>& Units, bool Identify) {
    QList<QStringList> rows;
    rows << (Identify ? QStringList{"Port", "Model", "Firmware", "State"}
                      : QStringList{"Port", "Outcome", "Seconds", "Before", "After"});
    for (const TUnitEnd& unit : Units) {
        rows << (QStringList{unit.Port} + (Identify ? SurveyCells(unit) : UpdateCells(unit)));
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : rows) {
        for (qsizetype column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    // The seconds are numbers: right-aligned.
    const qsizetype numeric = Identify ? -1 : 2;
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column) {
            const int width = static_cast<int>(widths[column]);
            line += column == numeric ? row[column].rightJustified(width)
                                      : row[column].leftJustified(width);
            line += QStringLiteral("  ");
        }
        text += line.trimmed() + u'\n';
    }
    return text;
}

QJsonObject SummaryRow(const TUnitEnd& Unit, bool Identify) {
    QJsonObject row{{"Port", Unit.Port},
                    {"Outcome", Unit.Report.value(QStringLiteral("Outcome"))},
                    {"ExitStatus", StatusOf(Unit.Report)},
                    {"Seconds", Unit.Seconds}};
    if (Identify) {
        const QStringList cells = SurveyCells(Unit);
        row.insert(QStringLiteral("State"), cells[2]);
        return row;
    }
    row.insert(QStringLiteral("FirmwareBefore"), JsonNumber(Before(Unit.Report).Number));
    row.insert(QStringLiteral("FirmwareAfter"), JsonNumber(After(Unit.Report).Number));
    return row;
}
