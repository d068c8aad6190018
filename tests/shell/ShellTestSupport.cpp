#include "ShellTestSupport.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

void TShellTest::SetUp() {
    PreviousDir = QDir::currentPath();
    WorkDir = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(WorkDir->isValid());
    ASSERT_TRUE(QDir::setCurrent(WorkDir->path()));
    ApplicationTitle().clear();
    TModalSeam::SetHook([this](const TModalRequest& Request) {
        Shown.push_back(Request);
        CaptionWhenShown.push_back(Form ? Form->windowTitle() : QString());
        VisibleWhenShown.push_back(Form && Form->isVisible());
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
    });
}

void TShellTest::TearDown() {
    Form.reset();
    TModalSeam::SetHook({});
    ApplicationTitle().clear();
    QDir::setCurrent(PreviousDir);
    WorkDir.reset();
}

QString TShellTest::PathOf(const QString& Name) const {
    return WorkDir->path() + QLatin1Char('/') + Name;
}

void TShellTest::WriteFile(const QString& Name, const QByteArray& Bytes) const {
    QFile file(PathOf(Name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(Bytes), Bytes.size());
}

QByteArray TShellTest::ReadFile(const QString& Name) const {
    QFile file(PathOf(Name));
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.readAll();
}

TMainForm& TShellTest::StartForm() {
    Form = std::make_unique<TMainForm>();
    Form->FormCreate();
    return *Form;
}

std::vector<QString> TShellTest::MessageTexts() const {
    std::vector<QString> texts;
    for (const TModalRequest& request : Shown) {
        if (request.Kind == TModalKind::MessageBox) {
            texts.push_back(request.Text);
        }
    }
    return texts;
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
