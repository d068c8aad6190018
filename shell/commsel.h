// TCommSelFrm: the port selection dialog ("Comm Port Selection"). The caller selects the
// port in ComboBox1, shows it modally and, on OK, reads the selected index (0 is COM1).
#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QPushButton;
class TPortItemDelegate;

// What the drop-down list shows beside one COM name.
struct TPortListing {
    QString Device;       // the device it opens ("/dev/ttyUSB0"); empty: nothing to show
    QString Description;  // "FT232R USB UART (A10K1234)"; may be empty
    bool Present = false; // the device is there now; else the item looks absent
};

class TCommSelFrm : public QDialog {
    Q_OBJECT
public:
    static constexpr int PortCount = 32;

    explicit TCommSelFrm(QWidget* Parent = nullptr);

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr; // "COM1" .. "COM32"
    QPushButton* Button1 = nullptr; // "&Ok"
    QPushButton* Button2 = nullptr; // "&Cancel", the default button

    // Tells the operator which device each COMn stands for: item i's tool tip is
    // Devices[i] (empty: none); the list's own tool tip follows the selected item.
    void SetPortDevices(const QStringList& Devices);

    // Item data the drop-down list paints beside each "COMn"; the item texts stay.
    static constexpr int DescriptionRole = Qt::UserRole + 1;
    static constexpr int DeviceRole = Qt::UserRole + 2;
    static constexpr int PresentRole = Qt::UserRole + 3;
    // Listings[i] for COM(i+1): its description and device beside it, and dimmed when
    // it is not present (it can still be chosen). The list widens to show them all.
    void SetPortListing(const QList<TPortListing>& Listings);

protected:
    // Escape does nothing here: no button is bound to it.
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void ShowSelectedDevice();

    TPortItemDelegate* PortItemDelegate = nullptr;
};
