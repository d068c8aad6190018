// The "&Comms Port" and "&About...." commands on the real main window, with ports that are
// pseudo-terminals mapped in the working directory's "Bootload.Ini".
#include "DialogTestSupport.h"
#include "PtyPair.h"
#include "WindowFixture.h"
#include "serial/KestComms.h"
#include "serial/PortDiscovery.h"
#include "serial/PortMap.h"
#include "settings/IniFile.h"
#include "shell/about.h"
#include "shell/commsel.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The main window started in a temporary working directory whose "Bootload.Ini" saves
// port SavedPort and maps COM1 and COM2 to pseudo-terminals, COM3 to a device that does
// not exist and COM4 to a plain file. Dialogs are answered by OnDialog (Rejected when
// unset) and every request is kept.
class PortCommand : public ::testing::Test, protected TWindowFixture {
protected:
    void StartWith(int SavedPort) {
        ASSERT_TRUE(Ready());
        PlainFile = PathOf(QStringLiteral("plain.txt"));
        QFile plain(PlainFile);
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
        WriteIni(SavedPort, Com1.SlavePath);
        SetPresentPortsSource([this] { return Present; });
        Answer = [this](const TModalRequest& Request) {
            TModalAnswer answer;
            answer.Result = QMessageBox::Ok;
            if (Request.Kind == TModalKind::Dialog) {
                answer.Result = OnDialog ? OnDialog(Request.Dialog) : int(QDialog::Rejected);
            }
            return answer;
        };
        Start();
    }

    void TearDown() override {
        Window.reset();
        SetPresentPortsSource({});
    }

    // Hand-written, so that any rewrite by the program shows in its bytes.
    void WriteIni(int SavedPort, const QString& Com1Device) {
        WriteFile(
            QStringLiteral("Bootload.Ini"),
            QStringLiteral("; written by the test\n[Options]\nComms_Port = %1\n\n"
                           "[Ports]\nCOM1 = %2\nCOM2 = %3\nCOM3 = %4\nCOM4 = %5\n")
                .arg(SavedPort)
                .arg(Com1Device, Com2.SlavePath, PathOf(QStringLiteral("no-such-tty")), PlainFile)
                .toUtf8());
    }

    QByteArray IniBytes() const { return ReadFile(QStringLiteral("Bootload.Ini")); }
    int SavedPort() const {
        return IniValue(IniBytes(), u"Options", u"Comms_Port").value_or(QString()).toInt();
    }
    // Answers the port dialog with OK on the given index (-1: nothing selected).
    void ChooseIndex(int Index) {
        OnDialog = [Index](QDialog* Dialog) {
            auto* dialog = qobject_cast<TCommSelFrm*>(Dialog);
            if (dialog == nullptr) {
                return int(QDialog::Rejected);
            }
            dialog->ComboBox1->setCurrentIndex(Index);
            return int(QDialog::Accepted);
        };
    }
    // Opens the port dialog and gives its list as it was shown (the dialog is cancelled).
    QComboBox* ShownPortList() {
        QComboBox* list = nullptr;
        OnDialog = [&list](QDialog* Dialog) {
            list = static_cast<TCommSelFrm*>(Dialog)->ComboBox1;
            return int(QDialog::Rejected);
        };
        Window->CommsPort1Click();
        OnDialog = nullptr;
        return list;
    }
    QString Panel() const { return Window->StatusPanel0->text(); }
    // The adapter plugged in: listed by the system with its description.
    void PlugAdapter() {
        TPresentPort port;
        port.Device = Adapter.SlavePath;
        port.Description = QStringLiteral("FT232R USB UART");
        port.SerialNumber = QStringLiteral("A10K1234");
        Present << port;
    }

    TPtyPair Com1;
    TPtyPair Com2;
    TPtyPair Adapter; // a USB adapter as the system lists it, when it is in Present
    QList<TPresentPort> Present;
    QString PlainFile;
    std::function<int(QDialog*)> OnDialog;
};

} // namespace

TEST_F(PortCommand, CancelLeavesThePortOpenAndWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Window->Comms->IsOpen()) << "needs the serial component";
    WriteIni(1, Com1.SlavePath);
    const QByteArray before = IniBytes();
    int shownIndex = -2;
    OnDialog = [&](QDialog* Dialog) {
        shownIndex = static_cast<TCommSelFrm*>(Dialog)->ComboBox1->currentIndex();
        static_cast<TCommSelFrm*>(Dialog)->ComboBox1->setCurrentIndex(1);
        return int(QDialog::Rejected);
    };
    Window->CommsPort1Click();

    ASSERT_EQ(ShownOf(TModalKind::Dialog).size(), 1u);
    EXPECT_EQ(ShownOf(TModalKind::Dialog)[0].Caption, QStringLiteral("Comm Port Selection"));
    EXPECT_EQ(shownIndex, 0);
    EXPECT_TRUE(Window->Comms->IsOpen());
    EXPECT_EQ(Window->Comms->DevicePath(), Com1.SlavePath);
    EXPECT_EQ(Window->CommsPortNumber, 1);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM1"));
    EXPECT_EQ(IniBytes(), before);
    EXPECT_TRUE(ShownOf(TModalKind::MessageBox).empty());
}

TEST_F(PortCommand, EnterInTheRealDialogCancels) {
    ASSERT_NO_FATAL_FAILURE(StartWith(2));
    ASSERT_TRUE(Window->Comms->IsOpen()) << "needs the serial component";
    WriteIni(2, Com1.SlavePath);
    const QByteArray before = IniBytes();
    TModalSeam::SetHook({});
    QTimer enter;
    enter.setSingleShot(true);
    QObject::connect(&enter, &QTimer::timeout, [this] {
        if (Window->CommSelFrm != nullptr && Window->CommSelFrm->isVisible()) {
            QTest::keyClick(Window->CommSelFrm->ComboBox1, Qt::Key_Return);
        }
    });
    QTimer bail;
    bail.setSingleShot(true);
    QObject::connect(&bail, &QTimer::timeout, [this] {
        if (Window->CommSelFrm != nullptr) {
            Window->CommSelFrm->done(QDialog::Accepted); // fails the test below
        }
    });
    enter.start(50);
    bail.start(5000);
    Window->CommsPort1Click();
    EXPECT_EQ(Window->CommSelFrm->result(), QDialog::Rejected);
    EXPECT_TRUE(Window->Comms->IsOpen());
    EXPECT_EQ(Window->Comms->DevicePath(), Com2.SlavePath);
    EXPECT_EQ(Window->CommsPortNumber, 2);
    EXPECT_EQ(IniBytes(), before);
}

TEST_F(PortCommand, OkOnAPortThatOpensSavesItAndNamesItInThePanel) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Window->Comms->IsOpen()) << "needs the serial component";
    ChooseIndex(1);
    Window->CommsPort1Click();

    EXPECT_TRUE(Window->Comms->IsOpen());
    EXPECT_EQ(Window->Comms->DevicePath(), Com2.SlavePath);
    EXPECT_EQ(Window->CommsPortNumber, 2);
    EXPECT_EQ(SavedPort(), 2);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM2"));
    EXPECT_EQ(IniValue(IniBytes(), u"Ports", u"COM1"), Com1.SlavePath)
        << "saving keeps the port map";
    EXPECT_TRUE(ShownOf(TModalKind::MessageBox).empty());
    // COM1 is free again: another component can have it.
    TKestComms other;
    other.PortMapFile = IniPath();
    other.CommPort = COM1;
    EXPECT_TRUE(other.Open());
}

TEST_F(PortCommand, APortThatFailsToOpenLeavesTheOldOneOpenAndSaysSo) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Window->Comms->IsOpen()) << "needs the serial component";
    WriteIni(1, Com1.SlavePath);
    const QByteArray before = IniBytes();
    ChooseIndex(2); // COM3: no such device
    Window->CommsPort1Click();

    EXPECT_TRUE(Window->Comms->IsOpen());
    EXPECT_EQ(Window->Comms->DevicePath(), Com1.SlavePath);
    EXPECT_EQ(Window->Comms->CommPort, COM1);
    EXPECT_EQ(Window->CommsPortNumber, 1);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM1"));
    EXPECT_EQ(IniBytes(), before);
    const auto boxes = ShownOf(TModalKind::MessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, QStringLiteral("Unable To Open Comm Port."));
    EXPECT_EQ(boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(boxes[0].Caption, QStringLiteral("Error"));
    // The reason is the chosen port's, not that of the old one opened again.
    EXPECT_TRUE(boxes[0].InformativeText.startsWith(
        QStringLiteral("COM3 (%1) is not connected.").arg(PathOf("no-such-tty"))))
        << boxes[0].InformativeText.toStdString();
}

TEST_F(PortCommand, APortThatIsNoSerialDeviceReportsTheComponentsErrorAndKeepsTheOldOne) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Window->Comms->IsOpen()) << "needs the serial component";
    ChooseIndex(3); // COM4: a plain file
    Window->CommsPort1Click();

    EXPECT_TRUE(Window->Comms->IsOpen());
    EXPECT_EQ(Window->Comms->DevicePath(), Com1.SlavePath);
    EXPECT_EQ(Window->CommsPortNumber, 1);
    EXPECT_EQ(SavedPort(), 1);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM1"));
    const auto boxes = ShownOf(TModalKind::MessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, QStringLiteral("File Handle is not a Comm Handle."));
    EXPECT_EQ(boxes[0].Icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes[0].InformativeText.startsWith(
        QStringLiteral("COM4 (%1) is not a serial device.").arg(PlainFile)))
        << boxes[0].InformativeText.toStdString();
}

TEST_F(PortCommand, WhenTheOldPortCannotBeReopenedEitherThePanelNoLongerNamesIt) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Window->Comms->IsOpen()) << "needs the serial component";
    OnDialog = [this](QDialog* Dialog) {
        // COM1's device goes away while the dialog is up.
        WriteIni(1, PathOf(QStringLiteral("gone")));
        static_cast<TCommSelFrm*>(Dialog)->ComboBox1->setCurrentIndex(2);
        return int(QDialog::Accepted);
    };
    Window->CommsPort1Click();

    EXPECT_FALSE(Window->Comms->IsOpen());
    EXPECT_EQ(Window->CommsPortNumber, 1);
    EXPECT_EQ(Panel(), QString());
    ASSERT_EQ(ShownOf(TModalKind::MessageBox).size(), 1u);
    EXPECT_EQ(ShownOf(TModalKind::MessageBox)[0].Text, QStringLiteral("Unable To Open Comm Port."));
}

TEST_F(PortCommand, ASavedPortOutsideTheListShowsNoSelectionAndOkWithoutOneChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartWith(40));
    ASSERT_EQ(ShownOf(TModalKind::MessageBox).size(), 1u) << "COM40 does not open at start-up";
    Shown.clear();
    int shownIndex = -2;
    OnDialog = [&](QDialog* Dialog) {
        shownIndex = static_cast<TCommSelFrm*>(Dialog)->ComboBox1->currentIndex();
        return int(QDialog::Accepted);
    };
    const QByteArray before = IniBytes();
    Window->CommsPort1Click();
    EXPECT_EQ(shownIndex, -1);
    EXPECT_EQ(Window->CommsPortNumber, 40);
    EXPECT_EQ(IniBytes(), before);
    EXPECT_EQ(Panel(), QString());
    EXPECT_TRUE(ShownOf(TModalKind::MessageBox).empty());

    // The operator recovers by choosing a port that opens.
    ChooseIndex(0);
    Window->CommsPort1Click();
    EXPECT_EQ(Window->CommsPortNumber, 1);
    EXPECT_EQ(Window->Comms->IsOpen(), true) << "needs the serial component";
    EXPECT_EQ(SavedPort(), 1);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM1"));
}

TEST_F(PortCommand, TheListShowsWhichDeviceEachPortMeans) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    QString com2Tip, com5Tip, listTip;
    OnDialog = [&](QDialog* Dialog) {
        QComboBox* list = static_cast<TCommSelFrm*>(Dialog)->ComboBox1;
        com2Tip = list->itemData(1, Qt::ToolTipRole).toString();
        com5Tip = list->itemData(4, Qt::ToolTipRole).toString();
        listTip = list->toolTip();
        return int(QDialog::Rejected);
    };
    Window->CommsPort1Click();
    EXPECT_EQ(com2Tip, Com2.SlavePath);
    EXPECT_EQ(com5Tip, QStringLiteral("/dev/ttyS4"));
    EXPECT_EQ(listTip, Com1.SlavePath);
    EXPECT_EQ(Window->CommSelFrm->ComboBox1->itemText(1), QStringLiteral("COM2"));
}

TEST_F(PortCommand, NothingHappensWhileAnUpgradeRunsOrWithoutAComponent) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    Window->Button6Click(); // the run's first step waits in the event queue
    ASSERT_TRUE(Window->RunInProgress());
    Window->CommsPort1Click();
    EXPECT_TRUE(ShownOf(TModalKind::Dialog).empty());
    Window.reset(); // the pending step goes with the window

    Shown.clear();
    Start();
    Window->FormClose();
    ASSERT_EQ(Window->Comms, nullptr);
    Window->CommsPort1Click();
    EXPECT_TRUE(ShownOf(TModalKind::Dialog).empty());
}

TEST_F(PortCommand, AboutShowsOneBoxReadOnceCentredOnTheWindow) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    OnDialog = [](QDialog*) { return int(QDialog::Accepted); };
    Window->About1Click();
    ASSERT_NE(Window->AboutBox, nullptr);
    TAboutBox* box = Window->AboutBox;
    const QString versionLine = box->Label2->text();
    EXPECT_EQ(box->parentWidget(), Window.get());
    EXPECT_LE((box->frameGeometry().center() - Window->frameGeometry().center()).manhattanLength(),
              2);

    TVersionBlockContent other;
    other.Translations = {{0x0809, 0x04E4}};
    other.Tables = {{QStringLiteral("080904E4"), {{QStringLiteral("FileVersion"), "9.9"}}}};
    TVersionSourceGuard guard(TVersionInfoSource{TVersionInfo::BuildBlock(other), true});
    Window->About1Click();
    EXPECT_EQ(Window->AboutBox, box);
    EXPECT_EQ(box->Label2->text(), versionLine) << "read once, when the box was made";
    const auto dialogs = ShownOf(TModalKind::Dialog);
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].Caption, QStringLiteral("About...."));
    EXPECT_EQ(dialogs[1].Dialog, box);
}

TEST_F(PortCommand, DialogsAndMessageBoxesUseTheMainWindowsFont) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    Window->CommsPort1Click();
    OnDialog = [](QDialog*) { return int(QDialog::Accepted); };
    Window->About1Click();
    ASSERT_NE(Window->CommSelFrm, nullptr);
    ASSERT_NE(Window->AboutBox, nullptr);
    EXPECT_EQ(Window->CommSelFrm->font().toString(), Window->font().toString());
    EXPECT_EQ(Window->AboutBox->font().toString(), Window->font().toString());
    const QMessageBox box(QMessageBox::Critical, QStringLiteral("caption"), QStringLiteral("text"),
                          QMessageBox::Ok, Window.get());
    EXPECT_EQ(box.font().toString(), Window->font().toString());
}

// No button of the port dialog is bound to Escape; its close box still cancels.
TEST(PortDialog, EscapeDoesNothingAndTheCloseBoxCancels) {
    TCommSelFrm dialog;
    dialog.setResult(QDialog::Accepted);
    dialog.show();
    QTest::keyClick(dialog.ComboBox1, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(PortCommand, AnAdapterPluggedBeforeStartUpIsNumberedBeforeTheSavedPortOpens) {
    PlugAdapter();
    ASSERT_NO_FATAL_FAILURE(StartWith(5)); // COM3 and COM4 have lines: COM5 is the first free
    EXPECT_TRUE(Window->Comms->IsOpen());
    EXPECT_EQ(Window->Comms->DevicePath(), Adapter.SlavePath);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM5"));
    // Added after the lines the person wrote, which stay as they were.
    EXPECT_TRUE(IniBytes().endsWith(
        QStringLiteral("COM4 = %1\nCOM5=%2\n").arg(PlainFile, Adapter.SlavePath).toUtf8()))
        << IniBytes().toStdString();
    EXPECT_TRUE(Shown.empty());

    QHelpEvent ask(QEvent::ToolTip, QPoint(2, 2), Window->StatusPanel0->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(Window->StatusPanel0, &ask);
    EXPECT_EQ(Window->StatusPanel0->toolTip(),
              Adapter.SlavePath + QStringLiteral("\nFT232R USB UART (A10K1234)"));
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM5"));
}

TEST_F(PortCommand, TheDialogListsAnAdapterPluggedAMomentAgoAndDimsPortsThatAreNotThere) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    PlugAdapter();
    QComboBox* list = ShownPortList();
    ASSERT_NE(list, nullptr);
    const auto data = [&](int Index, int Role) { return list->itemData(Index, Role); };
    EXPECT_EQ(data(4, TCommSelFrm::DeviceRole).toString(), Adapter.SlavePath);
    EXPECT_EQ(data(4, TCommSelFrm::DescriptionRole).toString(),
              QStringLiteral("FT232R USB UART (A10K1234)"));
    EXPECT_TRUE(data(4, TCommSelFrm::PresentRole).toBool());
    EXPECT_FALSE(data(4, Qt::ForegroundRole).isValid());
    // COM3's line names a device that is not there: shown, dimmed.
    EXPECT_FALSE(data(2, TCommSelFrm::PresentRole).toBool());
    EXPECT_EQ(data(2, TCommSelFrm::DeviceRole).toString(), PathOf(QStringLiteral("no-such-tty")));
    EXPECT_EQ(data(2, Qt::ForegroundRole).value<QBrush>().color(),
              list->palette().color(QPalette::Disabled, QPalette::Text));
    EXPECT_EQ(list->itemText(4), QStringLiteral("COM5"));
    EXPECT_TRUE(IniBytes().endsWith(QStringLiteral("COM5=%1\n").arg(Adapter.SlavePath).toUtf8()));
    EXPECT_TRUE(Shown.size() == 1u) << "the dialog only";
}

TEST_F(PortCommand, AnAdapterTheFileCannotRecordIsNumberedForThisRunWithoutAMessageBox) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    // From now on the file is no settings file: it is never written.
    QFile ini(IniPath());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write(QByteArray("[Ports]\0", 8));
    ini.close();
    const QByteArray before = IniBytes();
    Shown.clear();
    PlugAdapter();
    QComboBox* list = ShownPortList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->itemData(2, TCommSelFrm::DeviceRole).toString(), Adapter.SlavePath);
    EXPECT_TRUE(list->itemData(2, TCommSelFrm::PresentRole).toBool());
    EXPECT_EQ(PortDevicePath(3, Window->Comms->PortMapFile, Window->Comms->SessionPorts),
              Adapter.SlavePath)
        << "the component opens COM3 on the adapter";
    EXPECT_EQ(IniBytes(), before);
    ASSERT_EQ(Shown.size(), 1u) << "the dialog, and no message box";
    EXPECT_EQ(Shown[0].Kind, TModalKind::Dialog);
}
