// TCommSelFrm: the port selection dialog ("Comm Port Selection"). The caller selects the
// port in ComboBox1, shows it modally and, on OK, reads the selected index (0 is COM1).
#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QPushButton;

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

protected:
    // Escape does nothing here: no button is bound to it.
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void ShowSelectedDevice();
};
