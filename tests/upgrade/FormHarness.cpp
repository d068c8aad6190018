#include "FormHarness.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QListWidget>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>
#include <utility>

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
    QFile ini(Dir.filePath(QStringLiteral("Bootload.Ini")));
    if (ini.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QByteArray text =
            "[Options]\nComms_Port=1\n\n[Ports]\nCOM1=" + Com1Device.toLocal8Bit() + "\n";
        if (!Com2Device.isEmpty()) {
            text += "COM2=" + Com2Device.toLocal8Bit() + "\n";
        }
        ini.write(text);
    }
    ini.close();
    TModalSeam::SetHook([this](const TModalRequest& Request) {
        Requests.push_back(Request);
        TModalAnswer answer;
        answer.Result = Request.Icon == QMessageBox::Question ? QuestionAnswer : QMessageBox::Ok;
        return answer;
    });
    // A test closes the window without ending the test program.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    PreviousDir = QDir::currentPath();
    QDir::setCurrent(Dir.path());
    // Created and started the way the program's main block does it.
    Window = std::make_unique<TMainForm>();
    Window->FormCreate();
}

TFormHarness::~TFormHarness() {
    Window.reset();
    TModalSeam::SetHook({});
    QDir::setCurrent(PreviousDir);
}

QString TFormHarness::IniPath() const {
    return Dir.filePath(QStringLiteral("Bootload.Ini"));
}

QStringList TFormHarness::LogLines() const {
    QStringList lines;
    for (int i = 0; i < Window->ListBox1->count(); ++i) {
        lines.append(Window->ListBox1->item(i)->text());
    }
    return lines;
}

bool TFormHarness::RunUpdate(int TimeOutMs) {
    if (!Window->Button6->isEnabled()) {
        return false;
    }
    QTest::mouseClick(Window->Button6, Qt::LeftButton);
    return WaitForRunEnd(TimeOutMs);
}

void TFormHarness::WhenLineAppears(const QString& Prefix, std::function<void()> Action) {
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

bool TFormHarness::WaitForRunEnd(int TimeOutMs) {
    return QTest::qWaitFor(
        [this] { return !Window->RunInProgress() && Window->Button6->isEnabled(); }, TimeOutMs);
}
