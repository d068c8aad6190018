// Start-up with and without a port that opens, and the ways the window ends.
#include "PtyPair.h"
#include "ShellTestSupport.h"

#include "serial/KestComms.h"
#include "shell/about.h"
#include "shell/commsel.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const QString PortFailure = QStringLiteral("Unable To Open Comms Port. Please Select Another.");

} // namespace

using StartUp = TShellTest;

TEST_F(StartUp, WithoutAnOpenablePortTheOperatorIsToldOverTheTitledWindow) {
    const QByteArray original = "[Options]\nComms_Port=2\n[Ports]\nCOM2=/nonexistent/tty\n";
    WriteFile("Bootload.Ini", original);
    TMainForm& form = StartForm();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Text, PortFailure);
    EXPECT_TRUE(Shown[0].InformativeText.startsWith("COM2 (/nonexistent/tty) is not connected."))
        << Shown[0].InformativeText.toStdString();
    EXPECT_EQ(Shown[0].Caption, "Tarnwick K-310 Firmware Update v1.50");
    EXPECT_EQ(Shown[0].Icon, QMessageBox::NoIcon);
    EXPECT_TRUE(VisibleWhenShown[0]);
    EXPECT_EQ(CaptionWhenShown[0], "Tarnwick K-310 Firmware Update v1.50");
    EXPECT_TRUE(form.StatusPanel0->text().isEmpty());
    EXPECT_EQ(ReadFile("Bootload.Ini"), original);
    ASSERT_NE(form.Comms, nullptr) << "the component stays, closed";
    EXPECT_FALSE(form.Comms->IsOpen());
    EXPECT_TRUE(form.Button6->isEnabled());
}

TEST_F(StartUp, WithAPortMappedToAPtyThePanelNamesItAndTheFileIsRewritten) {
    TPtyPair pty;
    ASSERT_FALSE(pty.SlavePath.isEmpty());
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=" + pty.SlavePath.toLocal8Bit() + "\n");
    TMainForm& form = StartForm();
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_EQ(form.StatusPanel0->text(), " Port: COM1");
    ASSERT_NE(form.Comms, nullptr);
    EXPECT_TRUE(form.Comms->IsOpen());
    EXPECT_EQ(ReadFile("Bootload.Ini"),
              "[Ports]\nCOM1=" + pty.SlavePath.toLocal8Bit() + "\n\n[Options]\nComms_Port=1\n");

    form.FormClose();
    EXPECT_EQ(form.Comms, nullptr);
}

TEST_F(StartUp, APortThatIsNotATerminalIsReportedInTheErrorBox) {
    WriteFile("plain.txt", "not a tty");
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=" + PathOf("plain.txt").toLocal8Bit() + "\n");
    TMainForm& form = StartForm();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Text, "File Handle is not a Comm Handle.");
    EXPECT_EQ(Shown[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Shown[0].Caption, "Tarnwick K-310 Firmware Update v1.50");
    EXPECT_TRUE(form.StatusPanel0->text().isEmpty());
}

TEST_F(StartUp, CloseButtonClosesTheWindowAndReleasesThePort) {
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
    TMainForm& form = StartForm();
    ASSERT_NE(form.Comms, nullptr);
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.Comms, nullptr);
    form.FormClose(); // harmless a second time
}

TEST_F(StartUp, ExitLeavesTheEventLoopWithoutFormClose) {
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
    TMainForm& form = StartForm();
    bool timedOut = false;
    QTimer::singleShot(0, &form, [&form] { form.Exit1->trigger(); });
    QTimer::singleShot(10000, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_FALSE(timedOut);
    EXPECT_NE(form.Comms, nullptr) << "the window's destruction releases the component";
}

TEST_F(StartUp, CloseIsRefusedWhileARunIsInProgress) {
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
    TMainForm& form = StartForm();
    form.Button6Click(); // the run's first step stays queued: no events are processed here
    ASSERT_TRUE(form.RunInProgress());
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    EXPECT_NE(form.Comms, nullptr) << "the component stays under the run";
}

TEST_F(StartUp, TheTwoDialogsAreMadeHiddenUnlessStartUpClosedTheWindow) {
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
    TMainForm& form = StartForm();
    ASSERT_NE(form.AboutBox, nullptr);
    ASSERT_NE(form.CommSelFrm, nullptr);
    EXPECT_EQ(form.AboutBox->parentWidget(), &form);
    EXPECT_EQ(form.CommSelFrm->parentWidget(), &form);
    EXPECT_TRUE(form.AboutBox->isHidden());
    EXPECT_TRUE(form.CommSelFrm->isHidden());

    // The operator closes the window while start-up's message about the port is up.
    Answer = [this](const TModalRequest&) {
        Window->close();
        return TModalAnswer{};
    };
    TMainForm& closed = StartForm();
    ASSERT_EQ(MessageTexts().size(), 2u);
    EXPECT_FALSE(closed.isVisible());
    EXPECT_EQ(closed.AboutBox, nullptr);
    EXPECT_EQ(closed.CommSelFrm, nullptr);
}

TEST_F(StartUp, TheWindowAndItsDialogsShowTheChipIconAtEverySize) {
    WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
    TMainForm& form = StartForm();
    const QList<QSize> sizes = {{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {256, 256}};
    for (QWidget* window : {static_cast<QWidget*>(&form), static_cast<QWidget*>(form.AboutBox),
                            static_cast<QWidget*>(form.CommSelFrm)}) {
        EXPECT_EQ(window->windowIcon().availableSizes(), sizes)
            << window->objectName().toStdString();
    }
}
