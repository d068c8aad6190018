#include "WindowFixture.h"

#include "shell/StartUp.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <utility>

TWindowFixture::TWindowFixture() : PreviousDir(QDir::currentPath()) {
    Entered = Dir.isValid() && QDir::setCurrent(Dir.path());
    ApplicationTitle().clear();
    TModalSeam::SetHook([this](const TModalRequest& Request) {
        Shown.push_back(Request);
        if (Answer) {
            return Answer(Request);
        }
        TModalAnswer answer;
        answer.Result = QMessageBox::Ok;
        return answer;
    });
}

TWindowFixture::~TWindowFixture() {
    Window.reset();
    TModalSeam::SetHook({});
    ApplicationTitle().clear();
    QDir::setCurrent(PreviousDir);
}

TMainForm& TWindowFixture::Start(const std::function<void(TMainForm&)>& BeforeStartUp) {
    Window.reset();
    // Held before start-up, so that the answers can look at the window it shows.
    Window = MakeMainForm();
    if (BeforeStartUp) {
        BeforeStartUp(*Window);
    }
    StartMainForm(*Window);
    return *Window;
}

QString TWindowFixture::PathOf(const QString& Name) const {
    return Dir.filePath(Name);
}

void TWindowFixture::WriteFile(const QString& Name, const QByteArray& Bytes) const {
    QFile file(PathOf(Name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(Bytes), Bytes.size());
}

QByteArray TWindowFixture::ReadFile(const QString& Name) const {
    QFile file(PathOf(Name));
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.readAll();
}

std::vector<TModalRequest> TWindowFixture::ShownOf(TModalKind Kind) const {
    std::vector<TModalRequest> found;
    for (const TModalRequest& request : Shown) {
        if (request.Kind == Kind) {
            found.push_back(request);
        }
    }
    return found;
}

std::vector<QString> TWindowFixture::MessageTexts() const {
    std::vector<QString> texts;
    for (const TModalRequest& request : ShownOf(TModalKind::MessageBox)) {
        texts.push_back(request.Text);
    }
    return texts;
}

QStringList TWindowFixture::LogLines() const {
    QStringList lines;
    for (int i = 0; i < Window->ListBox1->count(); ++i) {
        lines.append(Window->ListBox1->item(i)->text());
    }
    return lines;
}

bool TWindowFixture::RunUpdate(int TimeOutMs) {
    if (!Window->Button6->isEnabled()) {
        return false;
    }
    QTest::mouseClick(Window->Button6, Qt::LeftButton);
    return WaitForRunEnd(TimeOutMs);
}

void TWindowFixture::WhenLineAppears(const QString& Prefix, std::function<void()> Action) {
    auto pending = std::make_shared<std::function<void()>>(std::move(Action));
    QListWidget* list = Window->ListBox1;
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                     [list, Prefix, pending](const QModelIndex&, int, int Last) {
                         QListWidgetItem* item = list->item(Last);
                         if (!*pending || item == nullptr || !item->text().startsWith(Prefix)) {
                             return;
                         }
                         QTimer::singleShot(0, list, std::exchange(*pending, nullptr));
                     });
}

bool TWindowFixture::WaitForRunEnd(int TimeOutMs) {
    return QTest::qWaitFor(
        [this] { return !Window->RunInProgress() && Window->Button6->isEnabled(); }, TimeOutMs);
}
