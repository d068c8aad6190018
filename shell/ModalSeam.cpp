#include "shell/ModalSeam.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>

namespace {
TModalHook& Hook() {
    static TModalHook hook;
    return hook;
}
} // namespace

QString& ApplicationTitle() {
    static QString title;
    return title;
}

void TModalSeam::SetHook(TModalHook NewHook) {
    Hook() = std::move(NewHook);
}

bool TModalSeam::HasHook() {
    return static_cast<bool>(Hook());
}

int TModalSeam::MessageBox(QWidget* Parent, QMessageBox::Icon Icon, const QString& Caption,
                           const QString& Text, QMessageBox::StandardButtons Buttons,
                           const QString& InformativeText) {
    if (Hook()) {
        TModalRequest request;
        request.Kind = TModalKind::MessageBox;
        request.Icon = Icon;
        request.Caption = Caption;
        request.Text = Text;
        request.InformativeText = InformativeText;
        return Hook()(request).Result;
    }
    QMessageBox box(Icon, Caption, Text, Buttons, Parent);
    box.setInformativeText(InformativeText);
    return box.exec();
}

QString TModalSeam::OpenFileName(QWidget* Parent, bool* Accepted) {
    if (Hook()) {
        TModalRequest request;
        request.Kind = TModalKind::OpenFile;
        const TModalAnswer answer = Hook()(request);
        *Accepted = answer.Accepted && !answer.Text.isEmpty();
        return *Accepted ? answer.Text : QString();
    }
    QString name = QFileDialog::getOpenFileName(Parent);
    *Accepted = !name.isEmpty();
    return name;
}

QString TModalSeam::InputText(QWidget* Parent, const QString& Caption, const QString& Prompt,
                              bool* Accepted) {
    if (Hook()) {
        TModalRequest request;
        request.Kind = TModalKind::InputText;
        request.Caption = Caption;
        request.Text = Prompt;
        const TModalAnswer answer = Hook()(request);
        *Accepted = answer.Accepted;
        return answer.Accepted ? answer.Text : QString();
    }
    bool ok = false;
    const QString text =
        QInputDialog::getText(Parent, Caption, Prompt, QLineEdit::Normal, QString(), &ok);
    *Accepted = ok;
    return ok ? text : QString();
}

int TModalSeam::ExecDialog(QDialog* Dialog) {
    if (Hook()) {
        TModalRequest request;
        request.Kind = TModalKind::Dialog;
        request.Caption = Dialog->windowTitle();
        request.Dialog = Dialog;
        const int result = Hook()(request).Result;
        Dialog->setResult(result);
        return result;
    }
    return Dialog->exec();
}

void TModalSeam::ShowError(QWidget* Parent, const QString& Text, const QString& InformativeText) {
    QApplication::beep();
    MessageBox(Parent, QMessageBox::Critical, ApplicationTitle(), Text, QMessageBox::Ok,
               InformativeText);
}
