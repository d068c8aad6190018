// The exit status of a run, read from the log line it ended with.
#include "cli/CliOutcome.h"

#include <gtest/gtest.h>

namespace {

TEST(CliOutcomeTest, EachWayARunEndsHasItsOwnStatus) {
    const std::vector<std::pair<const char*, TCliStatus>> cases{
        {"Finalising Upgrade.....Done", TCliStatus::Complete},
        {"Finalising Upgrade.....Error (Settings Not Restored)", TCliStatus::SettingsNotRestored},
        {"Initialising Upgrade.....Error", TCliStatus::SettingsNotSaved},
        {"Retrieving Model Number......Error (No Reply)", TCliStatus::NoReply},
        {"Retrieving Model Number......Error (Incompatible Model)", TCliStatus::IncompatibleModel},
        {"Erasing Program Memory......Error Detected", TCliStatus::EraseError},
        {"Sending New Program Data......Error Detected", TCliStatus::WriteError},
        {"Update stopped by the operator.", TCliStatus::Stopped},
        // A stage cut short by an error box, or any line a run does not end with.
        {"Sending New Program Data......47%", TCliStatus::Unknown},
        {"Initialising Upgrade.....Error (No Program Range)", TCliStatus::Unknown},
        {"Finalising Upgrade.....", TCliStatus::Unknown},
        {"Initialising Upgrade.....Done (1)", TCliStatus::Unknown},
    };
    for (const auto& [text, status] : cases) {
        EXPECT_EQ(OutcomeOfRun(
                      {QStringLiteral("Enabling BootLoader.....Done"), QString::fromLatin1(text)})
                      .Status,
                  status)
            << text;
    }
    EXPECT_EQ(OutcomeOfRun({}).Status, TCliStatus::Unknown);
    // Only the last line decides: an earlier complete line is not the outcome.
    EXPECT_EQ(OutcomeOfRun({QStringLiteral("Finalising Upgrade.....Done"),
                            QStringLiteral("Update stopped by the operator.")})
                  .Status,
              TCliStatus::Stopped);
}

} // namespace
