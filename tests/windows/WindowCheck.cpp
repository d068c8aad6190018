// The real window on Windows (under Wine and a display in the tests): brought up as the
// program brings it up, in a working directory whose "Bootload.Ini" names the port of a
// simulated unit. Checks, one line each on standard output:
//   title    the window shows the product's title;
//   icon     the window, the about box and the port dialog show the chip, not the system's
//            default icon;
//   update   Start runs a complete update: the log ends as a complete run's does;
//   about    the about box shows the version the program file's resource carries.
// Writes window.png and about.png (the windows' contents) and screen.png (the whole screen,
// the window with its frame) into DIR. Exit status 0 when all pass.
//
//   bootload_window_check DIR TITLE [BOUND_S]
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/StartUp.h"
#include "shell/about.h"
#include "shell/commsel.h"
#include "tests/support/CompleteRun.h"
#include "tests/windows/WindowIcon.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

int Failures = 0;

void Check(const char* Name, bool Passed, const QString& Detail) {
    std::printf("%s %s: %s\n", Passed ? "PASS" : "FAIL", Name, qPrintable(Detail));
    std::fflush(stdout);
    Failures += Passed ? 0 : 1;
}

QStringList LogLines(const TMainForm& Form) {
    QStringList lines;
    for (int i = 0; i < Form.ListBox1->count(); ++i) {
        lines << Form.ListBox1->item(i)->text();
    }
    return lines;
}

// Every dialog is answered here, so a failure is reported, never left waiting for a person.
// The about box is shown, photographed and read.
TModalAnswer AnswerDialog(const TModalRequest& Request, const QString& Dir, QString& AboutText) {
    if (Request.Kind == TModalKind::Dialog && Request.Dialog != nullptr) {
        if (auto* about = qobject_cast<TAboutBox*>(Request.Dialog)) {
            about->show();
            QCoreApplication::processEvents();
            about->grab().save(QDir(Dir).filePath(QStringLiteral("about.png")));
            AboutText = about->Label3->text() + QLatin1Char('|') + about->Label2->text() +
                        QLatin1Char('|') + about->Label1->text();
            about->hide();
        }
        return {QDialog::Accepted, {}, true};
    }
    Check("dialog", false, Request.Text + QLatin1Char(' ') + Request.InformativeText);
    return {QMessageBox::Ok, {}, false};
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fputs("usage: bootload_window_check DIR TITLE [BOUND_S]\n", stderr);
        return 2;
    }
    const QString dir = args[1];
    const QString title = args[2];
    const int boundMs = args.value(3, QStringLiteral("180")).toInt() * 1000;
    QDir::setCurrent(dir);

    QString aboutText;
    TModalSeam::SetHook(
        [&](const TModalRequest& Request) { return AnswerDialog(Request, dir, aboutText); });
    const std::unique_ptr<TMainForm> form = MakeMainForm();
    if (!StartMainForm(*form)) {
        Check("start-up", false, QStringLiteral("start-up closed the window"));
        return 1;
    }
    Check("title", form->windowTitle() == title, form->windowTitle());
    QString icons;
    const bool ownIcons = ShowsOwnIcon(*form, icons) && ShowsOwnIcon(*form->AboutBox, icons) &&
                          ShowsOwnIcon(*form->CommSelFrm, icons);
    Check("icon", ownIcons, icons);

    bool ended = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (form->Button6->isEnabled() && !form->RunInProgress()) {
            ended = true;
            QCoreApplication::exit(0);
        }
    });
    QTimer::singleShot(1000, form.get(), [&] {
        QGuiApplication::primaryScreen()->grabWindow(0).save(
            QDir(dir).filePath(QStringLiteral("screen.png")));
        form->Button6->click();
        poll.start(100);
    });
    QTimer::singleShot(boundMs, form.get(), [] { QCoreApplication::exit(1); });
    QApplication::exec();
    poll.stop();
    form->grab().save(QDir(dir).filePath(QStringLiteral("window.png")));
    const QStringList log = LogLines(*form);
    Check("update", ended && log == CompleteRunLog(),
          (ended ? QString() : QStringLiteral("(did not end in time) ")) +
              log.join(QStringLiteral(" / ")));

    form->About1Click();
    const QString expected = VersionBuildText(QStringLiteral(BOOTLOAD_FILE_VERSION));
    Check("about", aboutText.contains(expected),
          aboutText + QStringLiteral(" (expected ") + expected + QLatin1Char(')'));
    return Failures == 0 ? 0 : 1;
}
