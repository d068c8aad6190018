// TCommSelFrm: the port selection dialog ("Comm Port Selection").
#pragma once

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

class TCommSelFrm : public QDialog {
    Q_OBJECT
public:
    explicit TCommSelFrm(QWidget* Parent = nullptr);

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr; // "COM1" .. "COM32"
    QPushButton* Button1 = nullptr; // "&Ok"
    QPushButton* Button2 = nullptr; // "&Cancel", the default button
};
