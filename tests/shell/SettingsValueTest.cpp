// How the "Comms_Port" value is read, and which settings files are read at all.
#include "shell/Settings.h"

#include "settings/IniFile.h"

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

// Files the program reads as they are, and files it refuses: each verdict on a second
// look the same as on the first.
TEST(SettingsFileVerdict, HandWrittenTextIsReadOnlyWhatCannotBeOneIsRefused) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Bootload.Ini";
    struct TCase {
        QByteArray Bytes;
        TIniFileState State;
        std::optional<QString> CommsPort;
    };
    QByteArray binary("[Options]\nComms_Port=2\n");
    binary.append('\0').append("\x01\x02\n");
    const TCase cases[] = {
        {"", TIniFileState::Usable, std::nullopt},
        {"[Options]\r\nComms_Port=3\r\n\r\n[Ports]\r\nCOM3=/dev/ttyUSB0\r\n ; adapter\r\n=\r\n",
         TIniFileState::Usable, "3"},
        {"no equals sign here\n", TIniFileState::Usable, std::nullopt},
        {"this is not\nan ini file\n", TIniFileState::Usable, std::nullopt},
        {"[Options]\nComms_Port=2\n[Ports\n", TIniFileState::Usable, "2"},
        {"[Options]\n#port of the bench PC\nComms_Port=2\n", TIniFileState::Usable, "2"},
        {"[Options]\nComms_Port=2\n; caf\xe9\n", TIniFileState::Usable, "2"},
        {binary, TIniFileState::NotIni, std::nullopt},
        // Valid lines, but far more of them than a settings file holds.
        {"[Options]\n" + QByteArray("k=v\n").repeated(300000), TIniFileState::NotIni, std::nullopt},
    };
    for (const TCase& c : cases) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.Bytes);
        file.close();
        for (int look = 0; look < 2; ++look) {
            const TIniFile read = TIniFile::Read(path);
            EXPECT_EQ(read.State, c.State) << c.Bytes.left(40).constData();
            EXPECT_EQ(IniValue(read.Bytes, u"Options", u"Comms_Port"), c.CommsPort)
                << c.Bytes.left(40).constData();
        }
    }
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_EQ(TIniFile::Read(path).State, TIniFileState::Missing);
    ASSERT_EQ(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(TIniFile::Read(path).State, TIniFileState::NotAFile); // and does not block
    EXPECT_EQ(TIniFile::Read(dir.path()).State, TIniFileState::NotAFile);
    EXPECT_EQ(TIniFile::Read("/dev/null").State, TIniFileState::NotAFile);
}
