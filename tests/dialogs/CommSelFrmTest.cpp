// The port selection dialog on its own: its list, its buttons and how it ends.
#include "DialogTestSupport.h"
#include "shell/commsel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs the dialog's real modal loop, does Action once it runs, and gives its result;
// -99 when the dialog did not end within a few seconds.
int ExecAndDo(QDialog& Dialog, std::function<void()> Action) {
    QTimer act;
    act.setSingleShot(true);
    QObject::connect(&act, &QTimer::timeout, &Dialog, [&] {
        (void)QTest::qWaitForWindowExposed(&Dialog, 2000);
        Action();
    });
    QTimer bail;
    bail.setSingleShot(true);
    QObject::connect(&bail, &QTimer::timeout, &Dialog, [&] { Dialog.done(-99); });
    act.start(0);
    bail.start(5000);
    return Dialog.exec();
}

} // namespace

TEST(CommSelFrm, ListsExactlyCom1ToCom32AndCannotBeTypedInto) {
    TCommSelFrm dialog;
    ASSERT_EQ(dialog.ComboBox1->count(), 32);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(dialog.ComboBox1->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    }
    EXPECT_FALSE(dialog.ComboBox1->isEditable());
    EXPECT_EQ(dialog.ComboBox1->lineEdit(), nullptr);

    dialog.ComboBox1->setCurrentIndex(2);
    QTest::keyClicks(dialog.ComboBox1, QStringLiteral("x/dev/ttyUSB0"));
    EXPECT_EQ(dialog.ComboBox1->count(), 32);
    EXPECT_EQ(dialog.ComboBox1->currentIndex(), 2);
    EXPECT_EQ(dialog.ComboBox1->currentText(), QStringLiteral("COM3"));
}

TEST(CommSelFrm, LayoutMatchesTheDesign) {
    TCommSelFrm dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Comm Port Selection"));
    EXPECT_EQ(dialog.minimumSize(), QSize(225, 137));
    EXPECT_EQ(dialog.maximumSize(), QSize(225, 137));
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    EXPECT_EQ(dialog.GroupBox1->title(), QStringLiteral(" Select Comms Port To Use "));
    EXPECT_EQ(dialog.GroupBox1->geometry(), QRect(8, 8, 209, 89));
    EXPECT_EQ(dialog.Label1->parentWidget(), dialog.GroupBox1);
    EXPECT_EQ(dialog.Label1->text(), QStringLiteral("Comm Port"));
    EXPECT_EQ(dialog.ComboBox1->parentWidget(), dialog.GroupBox1);
    EXPECT_EQ(dialog.ComboBox1->pos(), QPoint(96, 37));
    EXPECT_EQ(dialog.ComboBox1->width(), 89);
    EXPECT_EQ(dialog.Button1->text(), QStringLiteral("&Ok"));
    EXPECT_EQ(dialog.Button1->geometry(), QRect(24, 104, 75, 25));
    EXPECT_EQ(dialog.Button2->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(dialog.Button2->geometry(), QRect(128, 104, 75, 25));
    EXPECT_TRUE(dialog.Button2->isDefault());
    EXPECT_FALSE(dialog.Button1->isDefault());
}

TEST(CommSelFrm, EnterAndTheCloseBoxCancel) {
    TCommSelFrm dialog;
    dialog.ComboBox1->setCurrentIndex(4);
    // Enter where the operator starts: in the port list.
    EXPECT_EQ(ExecAndDo(dialog, [&] { QTest::keyClick(dialog.ComboBox1, Qt::Key_Return); }),
              QDialog::Rejected);
    EXPECT_EQ(ExecAndDo(dialog, [&] { QTest::keyClick(dialog.ComboBox1, Qt::Key_Enter); }),
              QDialog::Rejected);
    EXPECT_EQ(ExecAndDo(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Return); }),
              QDialog::Rejected);
    EXPECT_EQ(ExecAndDo(dialog, [&] { dialog.close(); }), QDialog::Rejected);
    EXPECT_EQ(dialog.ComboBox1->currentIndex(), 4) << "the selection is the caller's to read";
}

TEST(CommSelFrm, OkAcceptsAndCancelRejects) {
    TCommSelFrm dialog;
    dialog.ComboBox1->setCurrentIndex(9);
    EXPECT_EQ(ExecAndDo(dialog, [&] { QTest::mouseClick(dialog.Button1, Qt::LeftButton); }),
              QDialog::Accepted);
    EXPECT_EQ(dialog.ComboBox1->currentIndex(), 9);
    EXPECT_EQ(ExecAndDo(dialog, [&] { QTest::mouseClick(dialog.Button2, Qt::LeftButton); }),
              QDialog::Rejected);
    EXPECT_EQ(ExecAndDo(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_O, Qt::AltModifier); }),
              QDialog::Accepted);
}

TEST(CommSelFrm, ToolTipsNameTheDeviceOfEachPort) {
    TCommSelFrm dialog;
    QStringList devices;
    for (int i = 0; i < 32; ++i) {
        devices << QStringLiteral("/dev/ttyS%1").arg(i);
    }
    devices[2] = QStringLiteral("/dev/ttyUSB0");
    dialog.ComboBox1->setCurrentIndex(2);
    dialog.SetPortDevices(devices);
    EXPECT_EQ(dialog.ComboBox1->itemData(2, Qt::ToolTipRole).toString(),
              QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(dialog.ComboBox1->itemData(31, Qt::ToolTipRole).toString(),
              QStringLiteral("/dev/ttyS31"));
    EXPECT_EQ(dialog.ComboBox1->toolTip(), QStringLiteral("/dev/ttyUSB0"));
    dialog.ComboBox1->setCurrentIndex(0);
    EXPECT_EQ(dialog.ComboBox1->toolTip(), QStringLiteral("/dev/ttyS0"));
    dialog.ComboBox1->setCurrentIndex(-1);
    EXPECT_TRUE(dialog.ComboBox1->toolTip().isEmpty());
    // A short list leaves the rest without a tool tip; item texts never change.
    dialog.SetPortDevices({QStringLiteral("/dev/a")});
    EXPECT_FALSE(dialog.ComboBox1->itemData(1, Qt::ToolTipRole).isValid());
    EXPECT_EQ(dialog.ComboBox1->itemText(2), QStringLiteral("COM3"));
}

TEST(CommSelFrm, TheDropDownListShowsPresentPortsBesideTheirNamesAndDimsAbsentOnes) {
    TCommSelFrm dialog;
    QList<TPortListing> listings(32);
    listings[2] = {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART (A10K1234)"),
                   true};
    listings[4] = {QStringLiteral("/dev/serial/by-id/usb-Gone-if00-port0"), QString(), false};
    dialog.SetPortListing(listings);

    const QAbstractItemModel* model = dialog.ComboBox1->model();
    const auto data = [&](int Row, int Role) { return model->index(Row, 0).data(Role); };
    EXPECT_EQ(data(2, TCommSelFrm::DescriptionRole).toString(),
              QStringLiteral("FT232R USB UART (A10K1234)"));
    EXPECT_EQ(data(2, TCommSelFrm::DeviceRole).toString(), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_FALSE(data(2, Qt::ForegroundRole).isValid()) << "present: drawn as usual";
    const QColor dimmed = dialog.palette().color(QPalette::Disabled, QPalette::Text);
    for (int row : {0, 4, 31}) {
        EXPECT_EQ(data(row, Qt::ForegroundRole).value<QBrush>().color(), dimmed) << row;
        EXPECT_TRUE(model->flags(model->index(row, 0)) & Qt::ItemIsEnabled) << "still a choice";
    }
    EXPECT_EQ(data(4, TCommSelFrm::DeviceRole).toString(),
              QStringLiteral("/dev/serial/by-id/usb-Gone-if00-port0"));
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(dialog.ComboBox1->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    }

    // The open list is wide enough for the name, the description and the device.
    dialog.show();
    dialog.ComboBox1->showPopup();
    QAbstractItemView* view = dialog.ComboBox1->view();
    QTRY_VERIFY(view->isVisible());
    const QFontMetrics metrics = view->fontMetrics();
    EXPECT_GE(view->viewport()->width(),
              metrics.horizontalAdvance(QStringLiteral("COM3   FT232R USB UART (A10K1234)   "
                                                       "/dev/serial/by-id/usb-Gone-if00-port0")));
    EXPECT_GT(view->width(), dialog.ComboBox1->width());
    dialog.ComboBox1->hidePopup();
}
