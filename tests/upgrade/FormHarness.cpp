#include "FormHarness.h"

#include <QGuiApplication>
#include <QLoggingCategory>

namespace {

QStringList& Captured() {
    static QStringList messages;
    return messages;
}

QtMessageHandler& PreviousHandler() {
    static QtMessageHandler handler = nullptr;
    return handler;
}

void CaptureMessage(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
    if (Context.category != nullptr && qstrcmp(Context.category, "bootload.log") == 0) {
        Captured().append(Text);
        return;
    }
    if (PreviousHandler() != nullptr) {
        PreviousHandler()(Type, Context, Text);
    }
}

} // namespace

TLogCapture::TLogCapture() {
    Captured().clear();
    QLoggingCategory::setFilterRules(QStringLiteral("bootload.log.info=true"));
    PreviousHandler() = qInstallMessageHandler(CaptureMessage);
}

TLogCapture::~TLogCapture() {
    qInstallMessageHandler(PreviousHandler());
    QLoggingCategory::setFilterRules(QStringLiteral("bootload.log.info=false"));
}

QStringList TLogCapture::Messages() const {
    return Captured();
}

QStringList TLogCapture::Replacements() const {
    QStringList texts;
    const QString prefix = QStringLiteral("replace: ");
    for (const QString& message : Captured()) {
        if (message.startsWith(prefix)) {
            texts.append(message.mid(prefix.size()));
        }
    }
    return texts;
}

TFormHarness::TFormHarness(const QString& Com1Device, const QString& Com2Device) {
    QByteArray text = "[Options]\nComms_Port=1\n\n[Ports]\nCOM1=" + Com1Device.toLocal8Bit() + "\n";
    if (!Com2Device.isEmpty()) {
        text += "COM2=" + Com2Device.toLocal8Bit() + "\n";
    }
    WriteFile(QStringLiteral("Bootload.Ini"), text);
    Answer = [this](const TModalRequest& Request) {
        TModalAnswer answer;
        answer.Result = Request.Icon == QMessageBox::Question ? QuestionAnswer : QMessageBox::Ok;
        return answer;
    };
    // A test closes the window without ending the test program.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    Start();
}

TFormHarness::~TFormHarness() {
    // Before the answer goes: closing the window may still ask something.
    Window.reset();
}
