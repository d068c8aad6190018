// The "&Comms Port" and "&About...." commands on the real main window, with ports that are
// pseudo-terminals mapped in the working directory's "Bootload.Ini".
#include "DialogTestSupport.h"
#include "serial/KestComms.h"
#include "serial/PortDiscovery.h"
#include "serial/PortMap.h"
#include "settings/IniFile.h"
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/about.h"
#include "shell/commsel.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

// A pseudo-terminal whose slave the program opens as a serial port.
class TTestPty {
public:
    TTestPty() {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (Master >= 0 && ::grantpt(Master) == 0 && ::unlockpt(Master) == 0 &&
            ::ptsname_r(Master, name, sizeof name) == 0) {
            SlavePath = QString::fromLocal8Bit(name);
        }
    }
    ~TTestPty() {
        if (Master >= 0) {
            ::close(Master);
        }
    }
    TTestPty(const TTestPty&) = delete;
    TTestPty& operator=(const TTestPty&) = delete;

    int Master = -1;
    QString SlavePath;
};

// The main window started in a temporary working directory whose "Bootload.Ini" saves
// port SavedPort and maps COM1 and COM2 to pseudo-terminals, COM3 to a device that does
// not exist and COM4 to a plain file. Dialogs are answered by OnDialog (Rejected when
// unset) and every request is kept.
class PortCommand : public ::testing::Test {
protected:
    void StartWith(int SavedPort) {
        ASSERT_TRUE(Dir.isValid());
        ASSERT_FALSE(Com1.SlavePath.isEmpty());
        ASSERT_FALSE(Com2.SlavePath.isEmpty());
        PlainFile = Dir.filePath(QStringLiteral("plain.txt"));
        QFile plain(PlainFile);
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
        WriteIni(SavedPort, Com1.SlavePath);
        PreviousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(Dir.path()));
        SetPresentPortsSource([this] { return Present; });
        TModalSeam::SetHook([this](const TModalRequest& Request) {
            Requests.push_back(Request);
            TModalAnswer answer;
            answer.Result = QMessageBox::Ok;
            if (Request.Kind == TModalKind::Dialog) {
                answer.Result = OnDialog ? OnDialog(Request.Dialog) : int(QDialog::Rejected);
            }
            return answer;
        });
        Form = std::make_unique<TMainForm>();
        Form->FormCreate();
    }

    void TearDown() override {
        Form.reset();
        TModalSeam::SetHook({});
        SetPresentPortsSource({});
        if (!PreviousDir.isEmpty()) {
            QDir::setCurrent(PreviousDir);
        }
    }

    // Hand-written, so that any rewrite by the program shows in its bytes.
    void WriteIni(int SavedPort, const QString& Com1Device) {
        QFile ini(IniPath());
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QStringLiteral("; written by the test\n[Options]\nComms_Port = %1\n\n"
                                 "[Ports]\nCOM1 = %2\nCOM2 = %3\nCOM3 = %4\nCOM4 = %5\n")
                      .arg(SavedPort)
                      .arg(Com1Device, Com2.SlavePath, Dir.filePath(QStringLiteral("no-such-tty")),
                           PlainFile)
                      .toUtf8());
    }

    QString IniPath() const { return Dir.filePath(QStringLiteral("Bootload.Ini")); }
    QByteArray IniBytes() const {
        QFile ini(IniPath());
        return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
    }
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
    std::vector<TModalRequest> RequestsOf(TModalKind Kind) const {
        std::vector<TModalRequest> found;
        for (const TModalRequest& request : Requests) {
            if (request.Kind == Kind) {
                found.push_back(request);
            }
        }
        return found;
    }
    QString Panel() const { return Form->StatusPanel0->text(); }
    // The adapter plugged in: listed by the system with its description.
    void PlugAdapter() {
        TPresentPort port;
        port.Device = Adapter.SlavePath;
        port.Description = QStringLiteral("FT232R USB UART");
        port.SerialNumber = QStringLiteral("A10K1234");
        Present << port;
    }

    QTemporaryDir Dir;
    TTestPty Com1;
    TTestPty Com2;
    TTestPty Adapter; // a USB adapter as the system lists it, when it is in Present
    QList<TPresentPort> Present;
    QString PlainFile;
    QString PreviousDir;
    std::vector<TModalRequest> Requests;
    std::function<int(QDialog*)> OnDialog;
    std::unique_ptr<TMainForm> Form;
};

} // namespace

TEST_F(PortCommand, CancelLeavesThePortOpenAndWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Form->Comms->IsOpen()) << "needs the serial component";
    WriteIni(1, Com1.SlavePath);
    const QByteArray before = IniBytes();
    int shownIndex = -2;
    OnDialog = [&](QDialog* Dialog) {
        shownIndex = static_cast<TCommSelFrm*>(Dialog)->ComboBox1->currentIndex();
        static_cast<TCommSelFrm*>(Dialog)->ComboBox1->setCurrentIndex(1);
        return int(QDialog::Rejected);
    };
    Form->CommsPort1Click();

    ASSERT_EQ(RequestsOf(TModalKind::Dialog).size(), 1u);
    EXPECT_EQ(RequestsOf(TModalKind::Dialog)[0].Caption, QStringLiteral("Comm Port Selection"));
    EXPECT_EQ(shownIndex, 0);
    EXPECT_TRUE(Form->Comms->IsOpen());
    EXPECT_EQ(Form->Comms->DevicePath(), Com1.SlavePath);
    EXPECT_EQ(Form->CommsPortNumber, 1);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM1"));
    EXPECT_EQ(IniBytes(), before);
    EXPECT_TRUE(RequestsOf(TModalKind::MessageBox).empty());
}

TEST_F(PortCommand, EnterInTheRealDialogCancels) {
    ASSERT_NO_FATAL_FAILURE(StartWith(2));
    ASSERT_TRUE(Form->Comms->IsOpen()) << "needs the serial component";
    WriteIni(2, Com1.SlavePath);
    const QByteArray before = IniBytes();
    TModalSeam::SetHook({});
    QTimer enter;
    enter.setSingleShot(true);
    QObject::connect(&enter, &QTimer::timeout, [this] {
        if (Form->CommSelFrm != nullptr && Form->CommSelFrm->isVisible()) {
            QTest::keyClick(Form->CommSelFrm->ComboBox1, Qt::Key_Return);
        }
    });
    QTimer bail;
    bail.setSingleShot(true);
    QObject::connect(&bail, &QTimer::timeout, [this] {
        if (Form->CommSelFrm != nullptr) {
            Form->CommSelFrm->done(QDialog::Accepted); // fails the test below
        }
    });
    enter.start(50);
    bail.start(5000);
    Form->CommsPort1Click();
    EXPECT_EQ(Form->CommSelFrm->result(), QDialog::Rejected);
    EXPECT_TRUE(Form->Comms->IsOpen());
    EXPECT_EQ(Form->Comms->DevicePath(), Com2.SlavePath);
    EXPECT_EQ(Form->CommsPortNumber, 2);
    EXPECT_EQ(IniBytes(), before);
}

TEST_F(PortCommand, OkOnAPortThatOpensSavesItAndNamesItInThePanel) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Form->Comms->IsOpen()) << "needs the serial component";
    ChooseIndex(1);
    Form->CommsPort1Click();

    EXPECT_TRUE(Form->Comms->IsOpen());
    EXPECT_EQ(Form->Comms->DevicePath(), Com2.SlavePath);
    EXPECT_EQ(Form->CommsPortNumber, 2);
    EXPECT_EQ(SavedPort(), 2);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM2"));
    EXPECT_EQ(IniValue(IniBytes(), u"Ports", u"COM1"), Com1.SlavePath)
        << "saving keeps the port map";
    EXPECT_TRUE(RequestsOf(TModalKind::MessageBox).empty());
    // COM1 is free again: another component can have it.
    TKestComms other;
    other.PortMapFile = IniPath();
    other.CommPort = COM1;
    EXPECT_TRUE(other.Open());
}

TEST_F(PortCommand, APortThatFailsToOpenLeavesTheOldOneOpenAndSaysSo) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Form->Comms->IsOpen()) << "needs the serial component";
    WriteIni(1, Com1.SlavePath);
    const QByteArray before = IniBytes();
    ChooseIndex(2); // COM3: no such device
    Form->CommsPort1Click();

    EXPECT_TRUE(Form->Comms->IsOpen());
    EXPECT_EQ(Form->Comms->DevicePath(), Com1.SlavePath);
    EXPECT_EQ(Form->Comms->CommPort, COM1);
    EXPECT_EQ(Form->CommsPortNumber, 1);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM1"));
    EXPECT_EQ(IniBytes(), before);
    const auto boxes = RequestsOf(TModalKind::MessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, QStringLiteral("Unable To Open Comm Port."));
    EXPECT_EQ(boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(boxes[0].Caption, QStringLiteral("Error"));
    // The reason is the chosen port's, not that of the old one opened again.
    EXPECT_TRUE(boxes[0].InformativeText.startsWith(
        QStringLiteral("COM3 (%1) is not connected.").arg(Dir.filePath("no-such-tty"))))
        << boxes[0].InformativeText.toStdString();
}

TEST_F(PortCommand, APortThatIsNoSerialDeviceReportsTheComponentsErrorAndKeepsTheOldOne) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Form->Comms->IsOpen()) << "needs the serial component";
    ChooseIndex(3); // COM4: a plain file
    Form->CommsPort1Click();

    EXPECT_TRUE(Form->Comms->IsOpen());
    EXPECT_EQ(Form->Comms->DevicePath(), Com1.SlavePath);
    EXPECT_EQ(Form->CommsPortNumber, 1);
    EXPECT_EQ(SavedPort(), 1);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM1"));
    const auto boxes = RequestsOf(TModalKind::MessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, QStringLiteral("File Handle is not a Comm Handle."));
    EXPECT_EQ(boxes[0].Icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes[0].InformativeText.startsWith(
        QStringLiteral("COM4 (%1) is not a serial device.").arg(PlainFile)))
        << boxes[0].InformativeText.toStdString();
}

TEST_F(PortCommand, WhenTheOldPortCannotBeReopenedEitherThePanelNoLongerNamesIt) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    ASSERT_TRUE(Form->Comms->IsOpen()) << "needs the serial component";
    OnDialog = [this](QDialog* Dialog) {
        // COM1's device goes away while the dialog is up.
        WriteIni(1, Dir.filePath(QStringLiteral("gone")));
        static_cast<TCommSelFrm*>(Dialog)->ComboBox1->setCurrentIndex(2);
        return int(QDialog::Accepted);
    };
    Form->CommsPort1Click();

    EXPECT_FALSE(Form->Comms->IsOpen());
    EXPECT_EQ(Form->CommsPortNumber, 1);
    EXPECT_EQ(Panel(), QString());
    ASSERT_EQ(RequestsOf(TModalKind::MessageBox).size(), 1u);
    EXPECT_EQ(RequestsOf(TModalKind::MessageBox)[0].Text,
              QStringLiteral("Unable To Open Comm Port."));
}

TEST_F(PortCommand, ASavedPortOutsideTheListShowsNoSelectionAndOkWithoutOneChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartWith(40));
    ASSERT_EQ(RequestsOf(TModalKind::MessageBox).size(), 1u) << "COM40 does not open at start-up";
    Requests.clear();
    int shownIndex = -2;
    OnDialog = [&](QDialog* Dialog) {
        shownIndex = static_cast<TCommSelFrm*>(Dialog)->ComboBox1->currentIndex();
        return int(QDialog::Accepted);
    };
    const QByteArray before = IniBytes();
    Form->CommsPort1Click();
    EXPECT_EQ(shownIndex, -1);
    EXPECT_EQ(Form->CommsPortNumber, 40);
    EXPECT_EQ(IniBytes(), before);
    EXPECT_EQ(Panel(), QString());
    EXPECT_TRUE(RequestsOf(TModalKind::MessageBox).empty());

    // The operator recovers by choosing a port that opens.
    ChooseIndex(0);
    Form->CommsPort1Click();
    EXPECT_EQ(Form->CommsPortNumber, 1);
    EXPECT_EQ(Form->Comms->IsOpen(), true) << "needs the serial component";
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
    Form->CommsPort1Click();
    EXPECT_EQ(com2Tip, Com2.SlavePath);
    EXPECT_EQ(com5Tip, QStringLiteral("/dev/ttyS4"));
    EXPECT_EQ(listTip, Com1.SlavePath);
    EXPECT_EQ(Form->CommSelFrm->ComboBox1->itemText(1), QStringLiteral("COM2"));
}

TEST_F(PortCommand, NothingHappensWhileAnUpgradeRunsOrWithoutAComponent) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    Form->Button6Click(); // the run's first step waits in the event queue
    ASSERT_TRUE(Form->RunInProgress());
    Form->CommsPort1Click();
    EXPECT_TRUE(RequestsOf(TModalKind::Dialog).empty());
    Form.reset(); // the pending step goes with the window

    Requests.clear();
    Form = std::make_unique<TMainForm>();
    Form->FormCreate();
    Form->FormClose();
    ASSERT_EQ(Form->Comms, nullptr);
    Form->CommsPort1Click();
    EXPECT_TRUE(RequestsOf(TModalKind::Dialog).empty());
}

TEST_F(PortCommand, AboutShowsOneBoxReadOnceCentredOnTheWindow) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    OnDialog = [](QDialog*) { return int(QDialog::Accepted); };
    Form->About1Click();
    ASSERT_NE(Form->AboutBox, nullptr);
    TAboutBox* box = Form->AboutBox;
    const QString versionLine = box->Label2->text();
    EXPECT_EQ(box->parentWidget(), Form.get());
    EXPECT_LE((box->frameGeometry().center() - Form->frameGeometry().center()).manhattanLength(),
              2);

    TVersionBlockContent other;
    other.Translations = {{0x0809, 0x04E4}};
    other.Tables = {{QStringLiteral("080904E4"), {{QStringLiteral("FileVersion"), "9.9"}}}};
    TVersionSourceGuard guard(TVersionInfoSource{TVersionInfo::BuildBlock(other), true});
    Form->About1Click();
    EXPECT_EQ(Form->AboutBox, box);
    EXPECT_EQ(box->Label2->text(), versionLine) << "read once, when the box was made";
    const auto dialogs = RequestsOf(TModalKind::Dialog);
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].Caption, QStringLiteral("About...."));
    EXPECT_EQ(dialogs[1].Dialog, box);
}

TEST_F(PortCommand, DialogsAndMessageBoxesUseTheMainWindowsFont) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    Form->CommsPort1Click();
    OnDialog = [](QDialog*) { return int(QDialog::Accepted); };
    Form->About1Click();
    ASSERT_NE(Form->CommSelFrm, nullptr);
    ASSERT_NE(Form->AboutBox, nullptr);
    EXPECT_EQ(Form->CommSelFrm->font().toString(), Form->font().toString());
    EXPECT_EQ(Form->AboutBox->font().toString(), Form->font().toString());
    const QMessageBox box(QMessageBox::Critical, QStringLiteral("caption"), QStringLiteral("text"),
                          QMessageBox::Ok, Form.get());
    EXPECT_EQ(box.font().toString(), Form->font().toString());
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
    EXPECT_TRUE(Form->Comms->IsOpen());
    EXPECT_EQ(Form->Comms->DevicePath(), Adapter.SlavePath);
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM5"));
    // Added after the lines the person wrote, which stay as they were.
    EXPECT_TRUE(IniBytes().endsWith(
        QStringLiteral("COM4 = %1\nCOM5=%2\n").arg(PlainFile, Adapter.SlavePath).toUtf8()))
        << IniBytes().toStdString();
    EXPECT_TRUE(Requests.empty());

    QHelpEvent ask(QEvent::ToolTip, QPoint(2, 2), Form->StatusPanel0->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(Form->StatusPanel0, &ask);
    EXPECT_EQ(Form->StatusPanel0->toolTip(),
              Adapter.SlavePath + QStringLiteral("\nFT232R USB UART (A10K1234)"));
    EXPECT_EQ(Panel(), QStringLiteral(" Port: COM5"));
}

TEST_F(PortCommand, TheDialogListsAnAdapterPluggedAMomentAgoAndDimsPortsThatAreNotThere) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    PlugAdapter();
    QComboBox* list = nullptr;
    OnDialog = [&](QDialog* Dialog) {
        list = static_cast<TCommSelFrm*>(Dialog)->ComboBox1;
        return int(QDialog::Rejected);
    };
    Form->CommsPort1Click();
    ASSERT_NE(list, nullptr);
    const auto data = [&](int Index, int Role) { return list->itemData(Index, Role); };
    EXPECT_EQ(data(4, TCommSelFrm::DeviceRole).toString(), Adapter.SlavePath);
    EXPECT_EQ(data(4, TCommSelFrm::DescriptionRole).toString(),
              QStringLiteral("FT232R USB UART (A10K1234)"));
    EXPECT_TRUE(data(4, TCommSelFrm::PresentRole).toBool());
    EXPECT_FALSE(data(4, Qt::ForegroundRole).isValid());
    // COM3's line names a device that is not there: shown, dimmed.
    EXPECT_FALSE(data(2, TCommSelFrm::PresentRole).toBool());
    EXPECT_EQ(data(2, TCommSelFrm::DeviceRole).toString(),
              Dir.filePath(QStringLiteral("no-such-tty")));
    EXPECT_EQ(data(2, Qt::ForegroundRole).value<QBrush>().color(),
              list->palette().color(QPalette::Disabled, QPalette::Text));
    EXPECT_EQ(list->itemText(4), QStringLiteral("COM5"));
    EXPECT_TRUE(IniBytes().endsWith(QStringLiteral("COM5=%1\n").arg(Adapter.SlavePath).toUtf8()));
    EXPECT_TRUE(Requests.size() == 1u) << "the dialog only";
}

TEST_F(PortCommand, AnAdapterTheFileCannotRecordIsNumberedForThisRunWithoutAMessageBox) {
    ASSERT_NO_FATAL_FAILURE(StartWith(1));
    // From now on the file is no settings file: it is never written.
    QFile ini(IniPath());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write(QByteArray("[Ports]\0", 8));
    ini.close();
    const QByteArray before = IniBytes();
    Requests.clear();
    PlugAdapter();
    QComboBox* list = nullptr;
    OnDialog = [&](QDialog* Dialog) {
        list = static_cast<TCommSelFrm*>(Dialog)->ComboBox1;
        return int(QDialog::Rejected);
    };
    Form->CommsPort1Click();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->itemData(2, TCommSelFrm::DeviceRole).toString(), Adapter.SlavePath);
    EXPECT_TRUE(list->itemData(2, TCommSelFrm::PresentRole).toBool());
    EXPECT_EQ(PortDevicePath(3, Form->Comms->PortMapFile, Form->Comms->SessionPorts),
              Adapter.SlavePath)
        << "the component opens COM3 on the adapter";
    EXPECT_EQ(IniBytes(), before);
    ASSERT_EQ(Requests.size(), 1u) << "the dialog, and no message box";
    EXPECT_EQ(Requests[0].Kind, TModalKind::Dialog);
}
