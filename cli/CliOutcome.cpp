#include "cli/CliOutcome.h"

#include <array>

namespace {

struct TStatusName {
    TCliStatus Status;
    const char* Name;
};

constexpr std::array StatusNames{
    TStatusName{TCliStatus::Complete, "complete"},
    TStatusName{TCliStatus::Unknown, "ended without a known outcome"},
    TStatusName{TCliStatus::BadArguments, "bad arguments"},
    TStatusName{TCliStatus::PortNotOpened, "port cannot be opened"},
    TStatusName{TCliStatus::NoReply, "no reply"},
    TStatusName{TCliStatus::IncompatibleModel, "incompatible model"},
    TStatusName{TCliStatus::EraseError, "erase error"},
    TStatusName{TCliStatus::WriteError, "write error"},
    TStatusName{TCliStatus::SettingsNotSaved, "settings not saved"},
    TStatusName{TCliStatus::SettingsNotRestored, "settings not restored"},
    TStatusName{TCliStatus::Stopped, "stopped"},
    TStatusName{TCliStatus::ReportNotWritten, "report not written"},
    TStatusName{TCliStatus::SomeUnitsFailed, "some units failed"},
};

// The last log line of each way a run ends. Every other last line (a stage cut short by
// an error box, a percentage) is an unknown outcome.
struct TFinalLine {
    const char* Text;
    TCliStatus Status;
};

constexpr std::array FinalLines{
    TFinalLine{"Finalising Upgrade.....Done", TCliStatus::Complete},
    TFinalLine{"Finalising Upgrade.....Error (Settings Not Restored)",
               TCliStatus::SettingsNotRestored},
    TFinalLine{"Initialising Upgrade.....Error", TCliStatus::SettingsNotSaved},
    TFinalLine{"Retrieving Model Number......Error (No Reply)", TCliStatus::NoReply},
    TFinalLine{"Retrieving Model Number......Error (Incompatible Model)",
               TCliStatus::IncompatibleModel},
    TFinalLine{"Erasing Program Memory......Error Detected", TCliStatus::EraseError},
    TFinalLine{"Sending New Program Data......Error Detected", TCliStatus::WriteError},
    TFinalLine{"Update stopped by the operator.", TCliStatus::Stopped},
};

} // namespace

TCliOutcome OutcomeOfStatus(TCliStatus Status) {
    for (const TStatusName& entry : StatusNames) {
        if (entry.Status == Status) {
            return {Status, QString::fromLatin1(entry.Name)};
        }
    }
    return OutcomeOfStatus(TCliStatus::Unknown);
}

TCliOutcome OutcomeOfRun(const QStringList& Lines) {
    if (!Lines.isEmpty()) {
        for (const TFinalLine& entry : FinalLines) {
            if (Lines.last() == QLatin1String(entry.Text)) {
                return OutcomeOfStatus(entry.Status);
            }
        }
    }
    return OutcomeOfStatus(TCliStatus::Unknown);
}
