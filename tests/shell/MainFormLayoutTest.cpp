// The main window as start-up leaves it, with this build's image and identity.
#include "ShellTestSupport.h"

#include "serial/KestComms.h"

#include <QAction>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>

using MainFormLayout = TShellTest;

TEST_F(MainFormLayout, BeforeStartUpTheWindowIsTheDesignOne) {
    TMainForm form;
    EXPECT_EQ(form.windowTitle(), "Bootloader");
    EXPECT_FALSE(form.Button6->isEnabled());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.Comms, nullptr);
    EXPECT_EQ(form.LastProgramAddress, 0u);
    EXPECT_TRUE(Shown.empty());
}

TEST_F(MainFormLayout, ControlsSitAtTheirPlacesInAFixedClientArea) {
    TMainForm& form = StartForm();
    const QWidget* client = form.centralWidget();
    EXPECT_EQ(client->width(), 514);
    EXPECT_EQ(client->height() + form.StatusBar1->height(), 196);
    EXPECT_EQ(form.StatusBar1->height(), 19);
    EXPECT_EQ(form.StatusBar1->y(), client->geometry().bottom() + 1);
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the window is not resizable";

    EXPECT_EQ(form.ListBox1->geometry(), QRect(8, 8, 497, 105));
    EXPECT_EQ(form.Button6->geometry(), QRect(223, 120, 75, 49));
    EXPECT_EQ(form.Button1->geometry(), QRect(432, 120, 75, 49));
    EXPECT_EQ(form.SlvAdd_GroupBox->geometry(), QRect(8, 120, 137, 49));
    EXPECT_EQ(form.SpinEdit1->parentWidget(), form.SlvAdd_GroupBox);
    EXPECT_EQ(form.SpinEdit1->geometry(), QRect(40, 16, 57, 22));
    EXPECT_EQ(form.Bevel1->geometry(), QRect(0, 0, 514, 9));
    EXPECT_EQ(form.ListBox1->selectionMode(), QAbstractItemView::SingleSelection);

    EXPECT_EQ(form.Button6->text(), "Start");
    EXPECT_EQ(form.Button1->text(), "Close");
    EXPECT_EQ(form.SlvAdd_GroupBox->title(), " Slave Address ");
    EXPECT_EQ(form.SpinEdit1->minimum(), 1);
    EXPECT_EQ(form.SpinEdit1->maximum(), 247);
    EXPECT_EQ(form.SpinEdit1->value(), 1);

    EXPECT_FALSE(form.StatusBar1->isSizeGripEnabled());
    EXPECT_EQ(form.StatusPanel0->width(), 150);
    EXPECT_EQ(form.StatusPanel1->width(), 50);
    EXPECT_TRUE(form.StatusPanel1->text().isEmpty());
}

TEST_F(MainFormLayout, WindowHasNoMaximiseBoxAndIsCentred) {
    TMainForm& form = StartForm();
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    const QPoint windowCentre = form.frameGeometry().center();
    EXPECT_LE((screenCentre - windowCentre).manhattanLength(), 2);
}

TEST_F(MainFormLayout, MenusAndTheirStates) {
    TMainForm& form = StartForm();
    const QList<QAction*> menus = form.menuBar()->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "&Options");
    EXPECT_EQ(menus[2]->text(), "&Help");

    const QList<QAction*> file = form.File1->actions();
    ASSERT_EQ(file.size(), 4);
    EXPECT_EQ(file[0], form.LoadFile1);
    EXPECT_EQ(file[1], form.CloseConnection1);
    EXPECT_TRUE(file[2]->isSeparator());
    EXPECT_EQ(file[3], form.Exit1);
    EXPECT_EQ(form.LoadFile1->text(), "Load File");
    EXPECT_FALSE(form.LoadFile1->isVisible()) << "start-up hides Load File";
    EXPECT_EQ(form.CloseConnection1->text(), "&Close Connection");
    EXPECT_TRUE(form.CloseConnection1->isVisible());
    EXPECT_FALSE(form.CloseConnection1->isEnabled());
    EXPECT_EQ(form.Exit1->text(), "E&xit");
    EXPECT_TRUE(form.Exit1->isEnabled());
    EXPECT_EQ(form.CommsPort1->text(), "&Comms Port");
    EXPECT_EQ(form.About1->text(), "&About....");
}

TEST_F(MainFormLayout, ThisBuildsIdentityImageAndTitle) {
    TMainForm& form = StartForm();
    EXPECT_EQ(form.ModelNumber, 5516);
    EXPECT_EQ(form.ProcessorNumber, 5525);
    EXPECT_EQ(form.FirmwareVersion, 150);
    EXPECT_EQ(form.LastProgramAddress, 0xBFFFu);
    EXPECT_EQ(form.ExpectedModelNumber, 5516);
    EXPECT_EQ(form.CommandPause, -1);
    EXPECT_EQ(ApplicationTitle(), "Tarnwick K-310 Firmware Update v1.50");
    EXPECT_EQ(form.windowTitle(), "Tarnwick K-310 Firmware Update v1.50");
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.SlvAdd_GroupBox->isHidden()) << "only the K-900 shows the slave address";
    EXPECT_EQ(form.SlaveAddress, 1);
    EXPECT_TRUE(form.Button6->isEnabled());
    EXPECT_TRUE(form.Button1->isEnabled());

    QFile image(":/firmware/HFILE");
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    const QByteArray bytes = image.readAll();
    ASSERT_EQ(bytes.size(), 65536);
    EXPECT_EQ(std::memcmp(form.ImageBuffer.data(), bytes.constData(), 65536), 0);
    for (const uint8_t flag : form.BlockPresent) {
        ASSERT_EQ(flag, 1);
    }
}

TEST_F(MainFormLayout, ResourceNamesMatchWithoutRegardToCase) {
    TMainForm& form = StartForm();
    EXPECT_EQ(form.ReadResourceNumber("rm_num"), 5516);
    EXPECT_EQ(form.ReadResourceNumber("Proc_Num"), 5525);
    const size_t before = Shown.size();
    EXPECT_EQ(form.ReadResourceNumber("NO_SUCH"), 0);
    ASSERT_EQ(Shown.size(), before + 1);
    EXPECT_EQ(Shown.back().Text, "Resource NO_SUCH not found");
    EXPECT_EQ(Shown.back().Icon, QMessageBox::Critical);
}

TEST_F(MainFormLayout, SoundMessageDlgShowsAnErrorBoxCaptionedError) {
    TMainForm& form = StartForm();
    Shown.clear();
    form.SoundMessageDlg("Something failed", TMsgDlgType::mtError, QMessageBox::Ok, 0);
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_EQ(Shown[0].Caption, "Error");
    EXPECT_EQ(Shown[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Shown[0].Text, "Something failed");
}

TEST_F(MainFormLayout, LogLinesAreThirteenPixelsHighUnlessTheFontNeedsMore) {
    TMainForm& form = StartForm();
    EXPECT_EQ(form.font().pointSize(), 8);
    form.AddLogLine(form.ListBox1, "Initialising Upgrade.....");
    const int height = form.ListBox1->visualItemRect(form.ListBox1->item(0)).height();
    EXPECT_EQ(height, std::max(13, form.ListBox1->fontMetrics().height()));
}
