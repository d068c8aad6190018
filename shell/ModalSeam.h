// Every modal dialog of the program goes through here, so that tests can answer it
// without a person: a test sets a hook that sees each request and gives the answer.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QDialog;
class QWidget;

enum class TModalKind { MessageBox, OpenFile, InputText, Dialog };

struct TModalRequest {
    TModalKind Kind = TModalKind::MessageBox;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QString Caption;
    QString Text;            // message text, or the input box's prompt
    QString InformativeText; // a message box's second text: the reason and what to do
    QDialog* Dialog = nullptr;
};

struct TModalAnswer {
    int Result = 0;       // QMessageBox::StandardButton, or QDialog::DialogCode
    QString Text;         // file name or typed text
    bool Accepted = true; // false: Cancel
};

using TModalHook = std::function<TModalAnswer(const TModalRequest&)>;

// The application title: empty at start, the product title once start-up has read the
// identity. Message boxes take it as their caption.
QString& ApplicationTitle();

class TModalSeam {
public:
    // Tests only; an empty hook restores the real dialogs.
    static void SetHook(TModalHook Hook);
    static bool HasHook();

    static int MessageBox(QWidget* Parent, QMessageBox::Icon Icon, const QString& Caption,
                          const QString& Text,
                          QMessageBox::StandardButtons Buttons = QMessageBox::Ok,
                          const QString& InformativeText = QString());
    // Empty and Accepted false when cancelled.
    static QString OpenFileName(QWidget* Parent, bool* Accepted);
    static QString InputText(QWidget* Parent, const QString& Caption, const QString& Prompt,
                             bool* Accepted);
    static int ExecDialog(QDialog* Dialog);
    // The application's standard error box: critical icon, application title as caption.
    static void ShowError(QWidget* Parent, const QString& Text,
                          const QString& InformativeText = QString());
};
