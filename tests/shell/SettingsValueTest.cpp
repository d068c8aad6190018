// How the "Comms_Port" value is read, and which settings files may be rewritten.
#include "shell/Settings.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(CommsPortValue, DecimalAndHexadecimal) {
    EXPECT_EQ(ParseCommsPortValue("3"), 3);
    EXPECT_EQ(ParseCommsPortValue(" 12 "), 12);
    EXPECT_EQ(ParseCommsPortValue("0x0A"), 10);
    EXPECT_EQ(ParseCommsPortValue("0X0a"), 10);
    EXPECT_EQ(ParseCommsPortValue("0x1F"), 31);
}

TEST(CommsPortValue, EmptyOrNonNumericReadsAsOne) {
    for (const char* text : {"", "  ", "abc", "COM3", "3a", "0x", "0xG1", "1.5", "0x123456789"}) {
        EXPECT_EQ(ParseCommsPortValue(QString::fromLatin1(text)), 1) << text;
    }
}

TEST(CommsPortValue, OutOfRangeValuesAreKept) {
    EXPECT_EQ(ParseCommsPortValue("0"), 0);
    EXPECT_EQ(ParseCommsPortValue("33"), 33);
    EXPECT_EQ(ParseCommsPortValue("-4"), -4);
    EXPECT_EQ(ParseCommsPortValue("0x100"), 256);
    EXPECT_EQ(ParseCommsPortValue("99999999999"), 1); // not a 32-bit number
}

class SettingsFileInspection : public ::testing::Test {
protected:
    QString Write(const QByteArray& Bytes) {
        QString path = Dir.path() + "/Bootload.Ini";
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Bytes);
        return path;
    }
    QTemporaryDir Dir;
};

TEST_F(SettingsFileInspection, VerdictDoesNotChangeOnASecondLook) {
    const QString path = Write("no equals sign here\n");
    EXPECT_EQ(InspectSettingsFile(path), TSettingsFileState::NotIni);
    EXPECT_EQ(InspectSettingsFile(path), TSettingsFileState::NotIni);
}

TEST_F(SettingsFileInspection, TextIniFilesAreUsable) {
    EXPECT_EQ(InspectSettingsFile(Dir.path() + "/Bootload.Ini"), TSettingsFileState::Missing);
    EXPECT_EQ(InspectSettingsFile(Write("")), TSettingsFileState::Usable);
    EXPECT_EQ(InspectSettingsFile(Write("[Options]\r\nComms_Port=3\r\n\r\n[Ports]\r\n"
                                        "COM3=/dev/ttyUSB0\r\n ; adapter\r\n=\r\n")),
              TSettingsFileState::Usable);
}

TEST_F(SettingsFileInspection, WhatTheIniWriterWouldDestroyIsNotUsable) {
    EXPECT_EQ(InspectSettingsFile(Write("this is not\nan ini file\n")), TSettingsFileState::NotIni);
    EXPECT_EQ(InspectSettingsFile(Write("[Options]\nComms_Port=2\n[Ports\n")),
              TSettingsFileState::NotIni);
    EXPECT_EQ(InspectSettingsFile(Write("[Options]\n#port of the bench PC\nComms_Port=2\n")),
              TSettingsFileState::NotIni);
    QByteArray binary("[Options]\nComms_Port=2\n");
    binary.append('\0').append("\x01\x02\n");
    EXPECT_EQ(InspectSettingsFile(Write(binary)), TSettingsFileState::NotIni);
    EXPECT_EQ(InspectSettingsFile(Write("[Options]\nComms_Port=2\n; caf\xe9\n")),
              TSettingsFileState::NotIni);
    // Valid lines, but far more of them than a settings file holds.
    EXPECT_EQ(InspectSettingsFile(Write("[Options]\n" + QByteArray("k=v\n").repeated(300000))),
              TSettingsFileState::NotIni);
}

TEST_F(SettingsFileInspection, DirectoriesAndFifosAreNotFiles) {
    const QString path = Dir.path() + "/Bootload.Ini";
    ASSERT_EQ(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(InspectSettingsFile(path), TSettingsFileState::NotAFile); // and does not block
    EXPECT_EQ(InspectSettingsFile(Dir.path()), TSettingsFileState::NotAFile);
    EXPECT_EQ(InspectSettingsFile("/dev/null"), TSettingsFileState::NotAFile);
}
