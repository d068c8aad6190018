// TAboutBox: the about box ("About....").
#pragma once

#include <QDialog>
#include <QString>

#include <array>

class QFrame;
class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    // Reads the program's version information (once, here) into the labels.
    explicit TAboutBox(QWidget* Parent = nullptr);

    QLabel* Image2 = nullptr; // the pre-release stamp, hidden unless flagged
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QFrame* Bevel1 = nullptr;
    QFrame* Bevel2 = nullptr;
    QLabel* Image1 = nullptr;
    QPushButton* OKButton = nullptr;
    // "CompanyName" .. "Comments", in that order.
    std::array<QString, 10> VersionStrings;

    void ReadVersionInfo();
};

// The version keys VersionStrings holds, in its order.
extern const std::array<const char*, 10> VersionKeys;

// "Version " + everything before the last "." + "  Build " + everything after it.
QString VersionBuildText(const QString& FileVersion);
