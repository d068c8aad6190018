// TMainForm: its controls and menus, start-up, the serial port it opens, and the ways
// the program ends.
#include "shell/Main1.h"

#include "serial/KestComms.h"
#include "shell/ModalSeam.h"
#include "shell/Settings.h"
#include "shell/SlaveSpinEdit.h"
#include "upgrade/ProgramRange.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyledItemDelegate>

#include <algorithm>
#include <exception>

namespace {

constexpr int ClientWidth = 514;
constexpr int ClientHeight = 196;
constexpr int StatusBarHeight = 19;
constexpr int LogLineHeight = 13;
constexpr int FontPointSize = 8;

// Log lines 13 pixels high, or as high as the font needs if that is more.
class TLogLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
        QSize size = QStyledItemDelegate::sizeHint(Option, Index);
        size.setHeight(std::max(LogLineHeight, Option.fontMetrics.height()));
        return size;
    }
};

} // namespace

TMainForm::TMainForm(QWidget* Parent) : QMainWindow(Parent) {
    BuildControls();
    BuildMenus();
}

// The component and the controls go first, while the window their signals reach is still
// whole (a field that loses the focus as it goes still reports its text); the component
// closes its port as it goes. The dialogs go with the window.
TMainForm::~TMainForm() {
    delete Comms;
    Comms = nullptr;
    delete centralWidget();
}

void TMainForm::BuildControls() {
    setWindowTitle(QStringLiteral("Bootloader"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    // The whole program's font, not the window's alone: the dialogs and message boxes
    // were laid out for the same size as the window. The window itself exists already,
    // so it is given the font at once too.
    QFont font = QApplication::font();
    font.setPointSize(FontPointSize);
    QApplication::setFont(font);
    setFont(font);

    auto* client = new QWidget(this);
    client->setFixedSize(ClientWidth, ClientHeight - StatusBarHeight);
    setCentralWidget(client);

    Bevel1 = new QFrame(client);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(0, 0, ClientWidth, 9);
    Bevel1->setStyleSheet(
        QStringLiteral("QFrame#Bevel1 { border: none; border-top: 1px solid palette(mid); }"));

    ListBox1 = new QListWidget(client);
    ListBox1->setGeometry(8, 8, 497, 105);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new TLogLineDelegate(ListBox1));

    Button6 = new QPushButton(QStringLiteral("Start"), client);
    Button6->setGeometry(223, 120, 75, 49);
    Button6->setEnabled(false);

    Button1 = new QPushButton(QStringLiteral("Close"), client);
    Button1->setGeometry(432, 120, 75, 49);

    SlvAdd_GroupBox = new QGroupBox(QStringLiteral(" Slave Address "), client);
    SlvAdd_GroupBox->setGeometry(8, 120, 137, 49);

    auto* spinEdit = new TSlaveSpinEdit(SlvAdd_GroupBox);
    spinEdit->setGeometry(40, 16, 57, 22);
    SpinEdit1 = spinEdit;

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(StatusBarHeight);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setFixedWidth(150);
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel1->setFixedWidth(50);
    StatusPanel0->installEventFilter(this);
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusPanel1);
    setStatusBar(StatusBar1);

    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Typing changes the editor's text; steps and a value set by the program change the
    // value (and the text with it, but without the editor's signal).
    connect(spinEdit->Editor(), &QLineEdit::textChanged, this, [this] { SpinEdit1Change(); });
    connect(spinEdit, &QSpinBox::textChanged, this, [this] { SpinEdit1Change(); });
    // Start takes the focus first, so the slave address is in range before the run.
    connect(Button6, &QPushButton::clicked, this, [this, spinEdit] {
        Button6->setFocus(Qt::OtherFocusReason);
        spinEdit->CommitText();
        Button6Click();
    });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TMainForm::BuildMenus() {
    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    LoadFile1 = File1->addAction(QStringLiteral("Load File"));
    CloseConnection1 = File1->addAction(QStringLiteral("&Close Connection"));
    CloseConnection1->setEnabled(false);
    N1 = File1->addSeparator();
    Exit1 = File1->addAction(QStringLiteral("E&xit"));

    Options1 = menuBar()->addMenu(QStringLiteral("&Options"));
    CommsPort1 = Options1->addAction(QStringLiteral("&Comms Port"));

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    About1 = Help1->addAction(QStringLiteral("&About...."));

    connect(LoadFile1, &QAction::triggered, this, [this] { LoadFile1Click(); });
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });
    connect(CommsPort1, &QAction::triggered, this, [this] { CommsPort1Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });
}

void TMainForm::FormCreate() {
    SettingsDir = QDir::currentPath();
    // A working directory that no longer exists has no path: the file is then looked for
    // where the process is, never in the root directory.
    if (SettingsDir.isEmpty()) {
        SettingsDir = QStringLiteral(".");
    }
    if (!SettingsDir.endsWith(u'/')) {
        SettingsDir += u'/';
    }
    SlaveAddress = 1;
    SlvAdd_GroupBox->hide();

    // Centred before it appears, and again once the frame around it is known.
    adjustSize();
    CentreOnScreen();
    show();
    CentreOnScreen();

    ImageBuffer.fill(0);
    LoadSettings();
    LoadFile1->setVisible(false);
    ApplyProductIdentity();
    setWindowTitle(ApplicationTitle());
    LoadEmbeddedImage();
    UpdateStartButton();
    NumberNewPorts(); // an adapter plugged in before start-up can be the saved port
    OpenCommsPort();
}

void TMainForm::CentreOnScreen() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TMainForm::UpdateStartButton() {
    const bool imageReady = ImageLoaded && IdentityComplete;
    // The rule the run's first step applies: without a program range there is nothing the
    // upgrade could erase or write.
    const bool rangeValid = IsValidProgramRange(LastProgramAddress);
    // Nor is there anything to write when the image has no block in the range (a HEX
    // file's data all outside it).
    const bool dataInRange = rangeValid && ImageSelection().BlocksSent > 0;
    Button6->setEnabled(imageReady && dataInRange);
    if (imageReady && !rangeValid) {
        TModalSeam::ShowError(
            this, QStringLiteral("No program memory range for processor %1").arg(ProcessorNumber));
    } else if (imageReady && !dataInRange) {
        TModalSeam::ShowError(this, QString::fromStdString(NoProgramDataText(LastProgramAddress)));
    }
}

void TMainForm::OpenCommsPort() {
    // One component for the life of the window: a second call reopens it rather than
    // leaving a second one holding the port.
    if (Comms == nullptr) {
        Comms = new TKestComms(this);
    } else {
        Comms->Close();
    }
    Comms->PortMapFile = SettingsDir + SettingsFileName;
    Comms->SessionPorts = SessionPorts;
    Comms->BaudRate = 115200;
    Comms->Parity = TParity::None;
    Comms->DataBits = 8;
    Comms->StopBits = TStopBits::sb1;
    Comms->CommPort = static_cast<TComport>(static_cast<uint8_t>(CommsPortNumber - 1));
    Comms->RxBufferSize = 500;
    // The port the component tried, as the reason names it.
    const QString portName = QStringLiteral("COM%1").arg(unsigned(Comms->CommPort) + 1);
    bool opened = false;
    try {
        opened = Comms->Open();
    } catch (const ECommsError& error) {
        StatusPanel0->clear();
        TModalSeam::ShowError(this, QString::fromUtf8(error.what()),
                              Comms->LastOpenFailure().Reason(portName));
        return;
    }
    if (opened) {
        ShowPortInPanel();
        SaveSettings();
    } else {
        StatusPanel0->clear();
        TModalSeam::MessageBox(this, QMessageBox::NoIcon, ApplicationTitle(),
                               QStringLiteral("Unable To Open Comms Port. Please Select Another."),
                               QMessageBox::Ok, Comms->LastOpenFailure().Reason(portName));
    }
}

int TMainForm::SoundMessageDlg(const QString& Text, TMsgDlgType DlgType, int Buttons, int,
                               const QString& InformativeText) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString caption = ApplicationTitle();
    switch (DlgType) {
    case TMsgDlgType::mtWarning:
        icon = QMessageBox::Warning;
        caption = QStringLiteral("Warning");
        break;
    case TMsgDlgType::mtError:
        icon = QMessageBox::Critical;
        caption = QStringLiteral("Error");
        break;
    case TMsgDlgType::mtInformation:
        icon = QMessageBox::Information;
        caption = QStringLiteral("Information");
        break;
    case TMsgDlgType::mtConfirmation:
        icon = QMessageBox::Question;
        caption = QStringLiteral("Confirm");
        break;
    case TMsgDlgType::mtCustom:
        break;
    }
    QApplication::beep();
    const QMessageBox::StandardButtons buttons =
        Buttons == 0 ? QMessageBox::Ok : QMessageBox::StandardButtons(Buttons);
    return TModalSeam::MessageBox(this, icon, caption, Text, buttons, InformativeText);
}

void TMainForm::SpinEdit1Change() {
    SlaveAddress = SpinEditTextValue(SpinEdit1->text(), SpinEdit1->minimum());
}

void TMainForm::Button1Click() {
    close();
}

void TMainForm::Exit1Click() {
    if (!QueryCloseDuringRun()) {
        return;
    }
    // Leaves the event loop without closing the window first; the window's destruction
    // releases the component.
    QCoreApplication::exit(0);
}

void TMainForm::FormClose() {
    if (Comms != nullptr) {
        Comms->Close();
        delete Comms;
        Comms = nullptr;
    }
}

bool TMainForm::event(QEvent* Event) {
    if (Event->type() != WM_UPGRADE_STEP) {
        return QMainWindow::event(Event);
    }
    // Nothing may escape into the event loop: a failure ends the step with its message.
    try {
        RunUpgrade(static_cast<TUpgradeStepEvent*>(Event)->Step);
    } catch (const std::exception& error) {
        TModalSeam::ShowError(this, QString::fromUtf8(error.what()));
    }
    return true;
}

void TMainForm::closeEvent(QCloseEvent* Event) {
    if (!QueryCloseDuringRun()) {
        Event->ignore();
        return;
    }
    FormClose();
    Event->accept();
}

void TMainForm::ShowPortInPanel() {
    StatusPanel0->setText(QStringLiteral(" Port: COM%1").arg(CommsPortNumber));
}
