// What the shell tests share: the window in a fresh working directory per test, and a
// stand-in operator who answers every modal dialog and notes what the window looked like
// when each came up.
#pragma once

#include "WindowFixture.h"

#include <QAction>
#include <QByteArray>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QString>

#include <gtest/gtest.h>

#include <deque>
#include <vector>

class TShellTest : public ::testing::Test, protected TWindowFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    QString SettingsPath() const { return IniPath(); }

    // The window as the main block makes it, start-up run.
    TMainForm& StartForm() { return Start(); }

    // Answers for the file dialog and the text prompts, taken in order; with none left a
    // prompt is cancelled. Message boxes are answered OK.
    std::deque<TModalAnswer> Answers;
    // The window's caption and visibility when each dialog came up.
    std::vector<QString> CaptionWhenShown;
    std::vector<bool> VisibleWhenShown;
};

// The window started on a port that does not open, ready for Load File, and the image it
// had then.
class TLoadFileTest : public TShellTest {
protected:
    void SetUp() override;

    QByteArray Before;
};

// An answer typed or chosen by the stand-in operator.
TModalAnswer Typed(const QString& Text);
TModalAnswer Cancelled();

bool RunningAsRoot();

// The window's image buffer, all of it.
QByteArray ImageOf(const TMainForm& Form);
