// The real main window, brought up the way the program starts it, in a temporary working
// directory whose "Bootload.Ini" maps COM1 (and optionally COM2) to given devices, and a
// capture of everything the window writes to its log list.
#pragma once

#include "QtPrinters.h"
#include "WindowFixture.h"

#include <QString>
#include <QStringList>

#include <vector>

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

class TFormHarness : public TWindowFixture {
public:
    explicit TFormHarness(const QString& Com1Device, const QString& Com2Device = QString());
    ~TFormHarness();

    // Every dialog the window asked for, in order; none is shown.
    const std::vector<TModalRequest>& Modals() const { return Shown; }
    // The button a question is answered with (other boxes get OK).
    void AnswerQuestionsWith(QMessageBox::StandardButton Button) { QuestionAnswer = Button; }

private:
    QMessageBox::StandardButton QuestionAnswer = QMessageBox::No;
};
