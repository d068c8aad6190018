// The real main window, brought up the way the program brings it up, in a temporary
// working directory of its own (so settings files never leak between tests). No dialog
// is ever shown: each one the window asks for is kept, in order, and answered by the
// test's callback (OK when it has none).
#pragma once

#include "shell/Main1.h"
#include "shell/ModalSeam.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

class TWindowFixture {
public:
    // Enters the working directory and takes over the dialogs.
    TWindowFixture();
    // The window goes first, then the dialogs are given back and the previous working
    // directory is entered again.
    ~TWindowFixture();
    TWindowFixture(const TWindowFixture&) = delete;
    TWindowFixture& operator=(const TWindowFixture&) = delete;

    // The working directory was made and entered.
    bool Ready() const { return Entered; }

    // The window, made and started as the program's main block does it; BeforeStartUp,
    // when given, runs between making it and its start-up.
    TMainForm& Start(const std::function<void(TMainForm&)>& BeforeStartUp = {});
    TMainForm& Form() { return *Window; }

    QString DirPath() const { return Dir.path(); }
    // The path of a file in the working directory.
    QString PathOf(const QString& Name) const;
    QString IniPath() const { return PathOf(QStringLiteral("Bootload.Ini")); }
    // Test failures when the file cannot be written.
    void WriteFile(const QString& Name, const QByteArray& Bytes) const;
    // Empty when there is no such file.
    QByteArray ReadFile(const QString& Name) const;

    // The dialogs asked for of one kind, and the texts of the message boxes, in order.
    std::vector<TModalRequest> ShownOf(TModalKind Kind) const;
    std::vector<QString> MessageTexts() const;

    // The lines of the window's log list.
    QStringList LogLines() const;
    // Clicks Start and waits, at most TimeOutMs, for Start to be enabled again.
    bool RunUpdate(int TimeOutMs);
    // Runs Action once, from the event loop, as soon as a log line starting with Prefix
    // is appended: while the step that appended it waits for the unit, as an operator
    // acting then would.
    void WhenLineAppears(const QString& Prefix, std::function<void()> Action);
    // Waits, at most TimeOutMs, for the run in progress to end.
    bool WaitForRunEnd(int TimeOutMs);

    // Answers each dialog once it is kept in Shown; unset: OK.
    TModalHook Answer;
    // Every dialog the window asked for, in order.
    std::vector<TModalRequest> Shown;
    // Null before Start.
    std::unique_ptr<TMainForm> Window;

private:
    QTemporaryDir Dir;
    QString PreviousDir;
    bool Entered = false;
};
