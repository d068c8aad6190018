// What the shell tests share: a fresh working directory per test, so settings files never
// leak between tests, and a stand-in operator who answers every modal dialog and keeps a
// record of what was shown.
#pragma once

#include "shell/Main1.h"
#include "shell/ModalSeam.h"

#include <QAction>
#include <QByteArray>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

class TShellTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The path of a file in the test's working directory.
    QString PathOf(const QString& Name) const;
    QString SettingsPath() const { return PathOf(QStringLiteral("Bootload.Ini")); }
    void WriteFile(const QString& Name, const QByteArray& Bytes) const;
    QByteArray ReadFile(const QString& Name) const;

    // The window as the main block makes it, start-up run.
    TMainForm& StartForm();

    // Answers for the file dialog and the text prompts, taken in order; with none left a
    // prompt is cancelled. Message boxes are answered OK.
    std::deque<TModalAnswer> Answers;
    std::vector<TModalRequest> Shown;
    // The window's caption and visibility when each dialog came up.
    std::vector<QString> CaptionWhenShown;
    std::vector<bool> VisibleWhenShown;

    std::vector<QString> MessageTexts() const;

    std::unique_ptr<TMainForm> Form;
    std::unique_ptr<QTemporaryDir> WorkDir;

private:
    QString PreviousDir;
};

// An answer typed or chosen by the stand-in operator.
TModalAnswer Typed(const QString& Text);
TModalAnswer Cancelled();

bool RunningAsRoot();
