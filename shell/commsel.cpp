#include "shell/commsel.h"

#include "shell/PortItemDelegate.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

TCommSelFrm::TCommSelFrm(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Comm Port Selection"));
    setFixedSize(225, 137);

    GroupBox1 = new QGroupBox(QStringLiteral(" Select Comms Port To Use "), this);
    GroupBox1->setGeometry(8, 8, 209, 89);
    Label1 = new QLabel(QStringLiteral("Comm Port"), GroupBox1);
    Label1->move(16, 40);
    Label1->adjustSize();
    // A selection-only list: not editable, so nothing can be typed in and Enter passes
    // through to the dialog's default button.
    ComboBox1 = new QComboBox(GroupBox1);
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(96, 37, 89, ComboBox1->sizeHint().height());
    for (int port = 1; port <= PortCount; ++port) {
        ComboBox1->addItem(QStringLiteral("COM%1").arg(port));
    }
    // A drop-down of eight rows below the box, not a list over the whole screen.
    ComboBox1->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    ComboBox1->setMaxVisibleItems(8);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TCommSelFrm::ShowSelectedDevice);

    Button1 = new QPushButton(QStringLiteral("&Ok"), this);
    Button1->setGeometry(24, 104, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    Button2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Button2->setGeometry(128, 104, 75, 25);
    Button2->setDefault(true);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(ComboBox1, Button1);
    setTabOrder(Button1, Button2);
    ComboBox1->setFocus();
}

void TCommSelFrm::SetPortDevices(const QStringList& Devices) {
    for (int i = 0; i < ComboBox1->count(); ++i) {
        const QString device = i < Devices.size() ? Devices[i] : QString();
        ComboBox1->setItemData(i, device.isEmpty() ? QVariant() : QVariant(device),
                               Qt::ToolTipRole);
    }
    ShowSelectedDevice();
}

void TCommSelFrm::ShowSelectedDevice() {
    const int index = ComboBox1->currentIndex();
    ComboBox1->setToolTip(index < 0 ? QString()
                                    : ComboBox1->itemData(index, Qt::ToolTipRole).toString());
}

void TCommSelFrm::keyPressEvent(QKeyEvent* Event) {
    // The close box still ends the dialog with Cancel.
    if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier) {
        Event->accept();
        return;
    }
    QDialog::keyPressEvent(Event);
}

void TCommSelFrm::SetPortListing(const QList<TPortListing>& Listings) {
    if (PortItemDelegate == nullptr) {
        PortItemDelegate = new TPortItemDelegate(DescriptionRole, DeviceRole, ComboBox1);
        ComboBox1->setItemDelegate(PortItemDelegate);
    }
    const QBrush absent = palette().brush(QPalette::Disabled, QPalette::Text);
    QStringList descriptions;
    QStringList devices;
    for (int i = 0; i < ComboBox1->count(); ++i) {
        const TPortListing listing = i < Listings.size() ? Listings[i] : TPortListing();
        ComboBox1->setItemData(i, listing.Description, DescriptionRole);
        ComboBox1->setItemData(i, listing.Device, DeviceRole);
        ComboBox1->setItemData(i, listing.Present, PresentRole);
        ComboBox1->setItemData(i, listing.Present ? QVariant() : QVariant(absent),
                               Qt::ForegroundRole);
        descriptions << listing.Description;
        devices << listing.Device;
    }
    // The drop-down list may be wider than the box: wide enough for every row.
    QAbstractItemView* view = ComboBox1->view();
    PortItemDelegate->FitColumns(view->fontMetrics(), descriptions, devices);
    view->setMinimumWidth(PortItemDelegate->RowWidth(view->fontMetrics()) + 2 * view->frameWidth() +
                          view->verticalScrollBar()->sizeHint().width());
}
