// The real main window, brought up the way the program starts it, in a temporary working
// directory whose "Bootload.Ini" maps COM1 (and optionally COM2) to given devices, and a
// capture of everything the window writes to its log list.
#pragma once

#include "shell/Main1.h"
#include "shell/ModalSeam.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}

// Every message of the "bootload.log" category while it lives, in order.
class TLogCapture {
public:
    TLogCapture();
    ~TLogCapture();
    TLogCapture(const TLogCapture&) = delete;
    TLogCapture& operator=(const TLogCapture&) = delete;
    QStringList Messages() const;
    // The texts of the "replace:" messages, in order.
    QStringList Replacements() const;
};

class TFormHarness {
public:
    explicit TFormHarness(const QString& Com1Device, const QString& Com2Device = QString());
    ~TFormHarness();
    TFormHarness(const TFormHarness&) = delete;
    TFormHarness& operator=(const TFormHarness&) = delete;

    TMainForm& Form() { return *Window; }
    // Every dialog the window asked for, in order; none is shown.
    const std::vector<TModalRequest>& Modals() const { return Requests; }
    // The button a question is answered with (other boxes get OK).
    void AnswerQuestionsWith(QMessageBox::StandardButton Button) { QuestionAnswer = Button; }
    QStringList LogLines() const;
    QString IniPath() const;
    // Clicks Start and waits, at most TimeOutMs, for Start to be enabled again.
    bool RunUpdate(int TimeOutMs);
    // Runs Action once, from the event loop, as soon as a log line starting with Prefix
    // is appended: while the step that appended it waits for the unit, as an operator
    // acting then would.
    void WhenLineAppears(const QString& Prefix, std::function<void()> Action);
    // Waits, at most TimeOutMs, for the run in progress to end.
    bool WaitForRunEnd(int TimeOutMs);

private:
    std::vector<TModalRequest> Requests;
    QMessageBox::StandardButton QuestionAnswer = QMessageBox::No;
    QTemporaryDir Dir;
    QString PreviousDir;
    std::unique_ptr<TMainForm> Window;
};
