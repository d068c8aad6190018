#include "ShellTestSupport.h"

#include <unistd.h>

void TShellTest::SetUp() {
    ASSERT_TRUE(Ready());
    Answer = [this](const TModalRequest& Request) {
        CaptionWhenShown.push_back(Window ? Window->windowTitle() : QString());
        VisibleWhenShown.push_back(Window && Window->isVisible());
        TModalAnswer answer;
        answer.Result = QMessageBox::Ok;
        if (Request.Kind == TModalKind::OpenFile || Request.Kind == TModalKind::InputText) {
            if (Answers.empty()) {
                return Cancelled();
            }
            answer = Answers.front();
            Answers.pop_front();
        }
        return answer;
    };
}

void TShellTest::TearDown() {
    // Before the answers go: closing the window may still ask something.
    Window.reset();
}

void TLoadFileTest::SetUp() {
    TShellTest::SetUp();
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
    StartForm();
    Shown.clear();
    Before = ImageOf(*Window);
}

TModalAnswer Typed(const QString& Text) {
    TModalAnswer answer;
    answer.Text = Text;
    answer.Accepted = true;
    return answer;
}

TModalAnswer Cancelled() {
    TModalAnswer answer;
    answer.Accepted = false;
    return answer;
}

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

QByteArray ImageOf(const TMainForm& Form) {
    return QByteArray(reinterpret_cast<const char*>(Form.ImageBuffer.data()),
                      static_cast<qsizetype>(Form.ImageBuffer.size()));
}
