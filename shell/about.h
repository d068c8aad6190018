// TAboutBox: the about box ("About....").
#pragma once

#include <QDialog>
#include <QString>

#include <array>

class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* Parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* OKButton = nullptr;
    // "CompanyName" .. "Comments", in that order.
    std::array<QString, 10> VersionStrings;

    void ReadVersionInfo();
};
