// "Bootload.Ini" as people edit it: the reading rules and the one-value writes as bytes in
// and bytes out, the files that are refused, and the atomic replace.
#include "settings/IniFile.h"
#include "settings/SettingsLock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct TReadCase {
    const char* Rule;
    QByteArray Text;
    const char* Section;
    const char* Key;
    std::optional<QString> Expected;
};

TEST(IniRead, Rules) {
    const TReadCase cases[] = {
        {"names without regard to case", "[OPTIONS]\nCOMMS_PORT=3\n", "Options", "Comms_Port", "3"},
        {"blanks around names and values", "  [ Options ]  \n\t Comms_Port \t=  3  \n", "Options",
         "Comms_Port", "3"},
        {"; and # lines are comments",
         "[Options]\n;Comms_Port=4\n# Comms_Port=5\n  ; [Other]\n#[Other]\nComms_Port=3\n",
         "Options", "Comms_Port", "3"},
        {"CRLF line ends", "[Options]\r\nComms_Port=3\r\n", "Options", "Comms_Port", "3"},
        {"a leading UTF-8 byte-order mark", "\xEF\xBB\xBF[Options]\nComms_Port=3\n", "Options",
         "Comms_Port", "3"},
        {"a Latin-1 line reads as Latin-1", "; caf\xE9\n[Options]\nName=Caf\xE9\n", "Options",
         "Name", QString::fromUtf8("Caf\xC3\xA9")},
        {"a UTF-8 line reads as UTF-8", "[Options]\nName=Caf\xC3\xA9\n", "Options", "Name",
         QString::fromUtf8("Caf\xC3\xA9")},
        {"unparsable lines are skipped",
         "junk\n[Options]\nthis is not a key\n[Ports\n=7\nComms_Port=3\n", "Options", "Comms_Port",
         "3"},
        {"the first of two equal keys wins",
         "[Options]\nComms_Port=3\ncomms_port=4\n[options]\nComms_Port=5\n", "Options",
         "Comms_Port", "3"},
        {"a section that appears twice is read as one", "[Options]\n[Ports]\n[options]\nX=1\n",
         "Options", "X", "1"},
        {"a value keeps its inner text", "[Ports]\nCOM3 = /dev/serial/by-id/usb-A,B=C  d \n",
         "Ports", "COM3", "/dev/serial/by-id/usb-A,B=C  d"},
        {"an empty value is there", "[Options]\nComms_Port=\n", "Options", "Comms_Port", ""},
        {"text after a header is ignored; no final line end", "[Options] ; main\nComms_Port=3",
         "Options", "Comms_Port", "3"},
        {"a key before any section is in none", "Comms_Port=3\n[Options]\n", "Options",
         "Comms_Port", std::nullopt},
        {"a key of another section", "[Ports]\nComms_Port=3\n", "Options", "Comms_Port",
         std::nullopt},
    };
    for (const TReadCase& c : cases) {
        EXPECT_EQ(IniValue(c.Text, QString::fromLatin1(c.Section), QString::fromLatin1(c.Key)),
                  c.Expected)
            << c.Rule;
    }
}

TEST(IniRead, SectionEntriesInFileOrderEachKeyOnce) {
    const QByteArray text = "[Ports]\nCOM3=/dev/a\ncom3=/dev/b\n; COM8=/dev/x\n# COM9=/dev/x\n"
                            "[Other]\nCOM4=/dev/y\n[ports]\n COM5 = /dev/c \n";
    const QList<QPair<QString, QString>> expected = {{"COM3", "/dev/a"}, {"COM5", "/dev/c"}};
    EXPECT_EQ(IniSectionEntries(text, u"PORTS"), expected);
    EXPECT_TRUE(IniSectionEntries(text, u"Missing").isEmpty());
}

// Neither ']' nor '=' is looked for past the end of its line: a mebibyte of lines that
// hold neither reads (and is written) as any other text, with the values after them.
TEST(IniRead, AMebibyteOfLinesWithoutSeparatorsReadsAsAnyOther) {
    const QByteArray tail = "[Options]\nComms_Port=3\n[Ports]\nCOM3=/dev/a\n";
    QByteArray text = "; hand-written notes follow\n";
    const QByteArray noise[] = {"[not a section\n", "not a key\n", "\n", "; a comment\n"};
    for (int i = 0; text.size() + tail.size() + 32 < MaxIniFileSize; ++i) {
        text += noise[i % 4];
    }
    text += tail;
    ASSERT_LE(text.size(), MaxIniFileSize);
    EXPECT_EQ(IniValue(text, u"Options", u"Comms_Port"), "3");
    const QList<QPair<QString, QString>> ports = {{"COM3", "/dev/a"}};
    EXPECT_EQ(IniSectionEntries(text, u"Ports"), ports);
    EXPECT_EQ(IniValue(text, u"Ports", u"COM4"), std::nullopt);
    EXPECT_EQ(IniWithValue(text, u"Ports", u"COM4", "/dev/b"), text + "COM4=/dev/b\n");
}

struct TWriteCase {
    const char* Rule;
    QByteArray Text;
    const char* Section;
    const char* Key;
    const char* Value;
    QByteArray Expected;
};

TEST(IniWrite, Rules) {
    const TWriteCase cases[] = {
        // A changed value: its bytes and no others.
        {"only the value's bytes change", "; bench PC\n[options]\n  comms_port =  3  \nX=1\n",
         "Options", "Comms_Port", "12", "; bench PC\n[options]\n  comms_port =  12  \nX=1\n"},
        {"an empty value is filled in", "[Options]\nComms_Port=\n", "Options", "Comms_Port", "1",
         "[Options]\nComms_Port=1\n"},
        {"only the first of two equal keys", "[Options]\nComms_Port=1\nComms_Port=9\n", "Options",
         "Comms_Port", "2", "[Options]\nComms_Port=2\nComms_Port=9\n"},
        {"BOM and Latin-1 bytes stay", "\xEF\xBB\xBF; caf\xE9\n[Options]\nComms_Port=1\n",
         "Options", "Comms_Port", "2", "\xEF\xBB\xBF; caf\xE9\n[Options]\nComms_Port=2\n"},
        {"CRLF stays", "[Options]\r\nComms_Port=1\r\n", "Options", "Comms_Port", "2",
         "[Options]\r\nComms_Port=2\r\n"},
        {"last line without a line end", "[Options]\nComms_Port=1", "Options", "Comms_Port", "2",
         "[Options]\nComms_Port=2"},
        // The value already there: the text as it is.
        {"the same value", "[OPTIONS]\r\n comms_port = 3 \r\n; end", "Options", "Comms_Port", "3",
         "[OPTIONS]\r\n comms_port = 3 \r\n; end"},
        // A missing key: after the section's last key, before the next section's preamble.
        {"key added at the end of its section",
         "[Options]\nX=1\n; about X\nY=2\n\n# the adapters\n[Ports]\nCOM3=/dev/a\n", "Options",
         "Comms_Port", "1",
         "[Options]\nX=1\n; about X\nY=2\nComms_Port=1\n\n# the adapters\n[Ports]\nCOM3=/dev/a\n"},
        {"key added to the first of two equal sections", "[Ports]\nCOM3=/dev/a\n[ports]\n", "Ports",
         "COM4", "/dev/b", "[Ports]\nCOM3=/dev/a\nCOM4=/dev/b\n[ports]\n"},
        {"key added after a header without a line end", "[Ports]", "Ports", "COM3", "/dev/a",
         "[Ports]\nCOM3=/dev/a\n"},
        {"key added with CRLF", "[Options]\r\nX=1\r\n", "Options", "Comms_Port", "1",
         "[Options]\r\nX=1\r\nComms_Port=1\r\n"},
        // A missing section: at the end of the file.
        {"section added at the end", "[Options]\nComms_Port=1\n", "Ports", "COM3", "/dev/a",
         "[Options]\nComms_Port=1\n\n[Ports]\nCOM3=/dev/a\n"},
        {"section added with CRLF", "[Options]\r\nComms_Port=1\r\n", "Ports", "COM3", "/dev/a",
         "[Options]\r\nComms_Port=1\r\n\r\n[Ports]\r\nCOM3=/dev/a\r\n"},
        {"section added after a last line without a line end", "[Options]\nComms_Port=1", "Ports",
         "COM3", "/dev/a", "[Options]\nComms_Port=1\n\n[Ports]\nCOM3=/dev/a\n"},
        {"section added after a trailing blank line", "; only a comment\n\n", "Options",
         "Comms_Port", "1", "; only a comment\n\n[Options]\nComms_Port=1\n"},
        {"an empty file", "", "Options", "Comms_Port", "1", "[Options]\nComms_Port=1\n"},
        // Names and values that would not read back: nothing changes.
        {"a value with a line end", "[Options]\n", "Options", "Comms_Port", "1\n[Evil]",
         "[Options]\n"},
        {"a key with '='", "[Options]\n", "Options", "A=B", "1", "[Options]\n"},
    };
    for (const TWriteCase& c : cases) {
        EXPECT_EQ(IniWithValue(c.Text, QString::fromLatin1(c.Section), QString::fromLatin1(c.Key),
                               QString::fromLatin1(c.Value)),
                  c.Expected)
            << c.Rule;
    }
}

class IniFile : public ::testing::Test {
protected:
    QString PathOf(const QString& Name) const { return Dir.filePath(Name); }
    QString Path() const { return PathOf("Bootload.Ini"); }
    QByteArray Native() const { return QFile::encodeName(Path()); }
    void Write(const QByteArray& Bytes, const QString& Name = "Bootload.Ini") const {
        QFile file(PathOf(Name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(Bytes), Bytes.size());
    }
    QByteArray Read(const QString& Name = "Bootload.Ini") const {
        QFile file(PathOf(Name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }
    // Everything in Folder but the lock file that saves leave: a temporary file left
    // behind shows here.
    QStringList Entries(const QString& Folder = ".") const {
        QStringList entries =
            QDir(PathOf(Folder))
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        entries.removeAll(QStringLiteral("Bootload.Ini.lock"));
        entries.removeAll(QStringLiteral("bench.ini.lock"));
        return entries;
    }
    struct stat Stat() const {
        struct stat info {};
        EXPECT_EQ(::lstat(Native().constData(), &info), 0);
        return info;
    }

    QTemporaryDir TempDir;
    QDir Dir{TempDir.path()};
};

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

// What cannot be a settings file is refused, promptly, and never written.
TEST_F(IniFile, WhatCannotBeASettingsFileIsRefusedAndNeverWritten) {
    const QByteArray withNul = QByteArray("[Options]\nComms_Port=2\n").append('\0');
    const QByteArray tooLong = "[Options]\nComms_Port=2\n;" + QByteArray(1024 * 1024, 'x');
    for (const QByteArray& bytes : {withNul, tooLong}) {
        Write(bytes);
        EXPECT_EQ(TIniFile::Read(Path()).State, TIniFileState::NotIni);
        EXPECT_FALSE(WriteIniValue(Path(), u"Options", u"Comms_Port", "3"));
        EXPECT_EQ(Read(), bytes);
    }
    ASSERT_TRUE(QFile::remove(Path()));

    ASSERT_EQ(::mkfifo(Native().constData(), 0600), 0);
    // A writer holds the other end with bytes in it: reading would block if it were tried.
    const int writer = ::open(Native().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "[Options]\n", 10), 10);
    EXPECT_EQ(TIniFile::Read(Path()).State, TIniFileState::NotAFile);
    QString error;
    EXPECT_FALSE(WriteIniValue(Path(), u"Options", u"Comms_Port", "3", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(S_ISFIFO(Stat().st_mode));
    ::close(writer);
    ASSERT_EQ(::unlink(Native().constData()), 0);

    ASSERT_TRUE(Dir.mkdir("Bootload.Ini"));
    EXPECT_EQ(TIniFile::Read(Path()).State, TIniFileState::NotAFile);
    EXPECT_FALSE(WriteIniValue(Path(), u"Options", u"Comms_Port", "3"));
    EXPECT_TRUE(S_ISDIR(Stat().st_mode));
    EXPECT_EQ(Entries(), QStringList{"Bootload.Ini"});

    EXPECT_EQ(TIniFile::Read("/dev/null").State, TIniFileState::NotAFile);
    EXPECT_EQ(TIniFile::Read(PathOf("none")).State, TIniFileState::Missing);
}

// 1 MiB is the most a settings file holds, also as one line, and no save makes it hold
// more (every later start would refuse it); a long file of short lines is read and
// written as any other.
TEST_F(IniFile, SizeLimitIsExactlyOneMebibyteAndNoSaveGoesPastIt) {
    const QByteArray head = "[Options]\nComms_Port=3\nLong=";
    const QByteArray atLimit = head + QByteArray(1024 * 1024 - head.size(), 'x');
    Write(atLimit);
    const TIniFile file = TIniFile::Read(Path());
    ASSERT_EQ(file.State, TIniFileState::Usable);
    EXPECT_EQ(file.Bytes, atLimit);
    EXPECT_EQ(IniValue(file.Bytes, u"Options", u"Comms_Port"), "3");
    ASSERT_TRUE(WriteIniValue(Path(), u"Options", u"Comms_Port", "4"));
    const QByteArray saved = QByteArray(atLimit).replace("Port=3", "Port=4");
    EXPECT_EQ(Read(), saved);

    // One byte more, by a longer value or by a new key: refused, the file as it was.
    QString error;
    EXPECT_FALSE(WriteIniValue(Path(), u"Options", u"Comms_Port", "10", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("1 MiB"))) << error.toStdString();
    EXPECT_FALSE(WriteIniValue(Path(), u"Ports", u"COM3", "/dev/ttyUSB0"));
    EXPECT_EQ(Read(), saved);
    EXPECT_EQ(TIniFile::Read(Path()).State, TIniFileState::Usable);
    EXPECT_EQ(Entries(), QStringList{"Bootload.Ini"});

    Write(atLimit + "x");
    EXPECT_EQ(TIniFile::Read(Path()).State, TIniFileState::NotIni);
}

TEST_F(IniFile, HundredThousandLinesAreReadAndWritten) {
    const QByteArray lines = "[Options]\n" + QByteArray("k=v\n").repeated(100000);
    Write(lines + "Comms_Port=3\n");
    const TIniFile file = TIniFile::Read(Path());
    ASSERT_EQ(file.State, TIniFileState::Usable);
    EXPECT_EQ(IniValue(file.Bytes, u"Options", u"Comms_Port"), "3");
    ASSERT_TRUE(WriteIniValue(Path(), u"Options", u"Comms_Port", "4"));
    EXPECT_EQ(Read(), lines + "Comms_Port=4\n");
}

TEST_F(IniFile, MissingFileIsCreatedWithDefaultPermissions) {
    const mode_t previous = ::umask(022);
    EXPECT_TRUE(WriteIniValue(Path(), u"Options", u"Comms_Port", "1"));
    ::umask(previous);
    EXPECT_EQ(Read(), "[Options]\nComms_Port=1\n");
    EXPECT_EQ(Stat().st_mode & 07777, 0644u);
    EXPECT_EQ(Entries(), QStringList{"Bootload.Ini"});
}

TEST_F(IniFile, SameValueLeavesTheFileUntouched) {
    Write("[options]\r\ncomms_port = 3\r\n");
    // An old time stamp: any rewrite would change it.
    const timeval past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimes(Native().constData(), past), 0);
    const struct stat before = Stat();
    EXPECT_TRUE(WriteIniValue(Path(), u"Options", u"Comms_Port", "3"));
    const struct stat after = Stat();
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST_F(IniFile, ReplacedFileKeepsItsPermissions) {
    Write("[Options]\nComms_Port=3\n");
    ASSERT_EQ(::chmod(Native().constData(), 0640), 0);
    const struct stat before = Stat();
    ASSERT_TRUE(WriteIniValue(Path(), u"Options", u"Comms_Port", "4"));
    const struct stat after = Stat();
    EXPECT_NE(after.st_ino, before.st_ino) << "replaced, not written in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(Read(), "[Options]\nComms_Port=4\n");
    EXPECT_EQ(Entries(), QStringList{"Bootload.Ini"});
}

// A link stays a link: its target is replaced, in the target's own directory.
TEST_F(IniFile, SymbolicLinkIsWrittenThrough) {
    ASSERT_TRUE(Dir.mkdir("shared"));
    Write("[Options]\nComms_Port=3\n", "shared/bench.ini");
    ASSERT_EQ(::symlink("shared/bench.ini", Native().constData()), 0);
    EXPECT_EQ(IniValue(TIniFile::Read(Path()).Bytes, u"Options", u"Comms_Port"), "3");
    ASSERT_TRUE(WriteIniValue(Path(), u"Options", u"Comms_Port", "4"));
    EXPECT_TRUE(S_ISLNK(Stat().st_mode));
    EXPECT_EQ(Read("shared/bench.ini"), "[Options]\nComms_Port=4\n");
    EXPECT_EQ(Entries(), (QStringList{"Bootload.Ini", "shared"}));
    EXPECT_EQ(Entries("shared"), QStringList{"bench.ini"});
    EXPECT_TRUE(QFile::exists(PathOf("shared/bench.ini.lock"))) << "locked beside the target";
}

// A save waits for another program's save (its lock) a few seconds at most, then fails,
// says why and leaves the file as it was.
TEST_F(IniFile, ASaveThatCannotHaveTheLockFailsWithItsReason) {
    Write("[Options]\nComms_Port=3\n");
    TSettingsLock other;
    ASSERT_TRUE(other.Take(Path(), TLockMode::Exclusive, 0));
    ASSERT_TRUE(other.Held());
    EXPECT_TRUE(QFile::exists(PathOf("Bootload.Ini.lock")));
    QString error;
    EXPECT_FALSE(WriteIniValue(Path(), u"Options", u"Comms_Port", "4", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("another program is saving"))) << error.toStdString();
    EXPECT_EQ(Read(), "[Options]\nComms_Port=3\n");
}

// A lock file that is there but may not be opened is no reason to save without it: the
// save fails, names it, and leaves the file as it was.
TEST_F(IniFile, ALockFileThatCannotBeOpenedFailsTheSave) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root opens any file";
    }
    Write("[Options]\nComms_Port=3\n");
    Write("", "Bootload.Ini.lock");
    ASSERT_EQ(::chmod(QFile::encodeName(PathOf("Bootload.Ini.lock")).constData(), 0), 0);
    QString error;
    EXPECT_FALSE(WriteIniValue(Path(), u"Options", u"Comms_Port", "4", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Bootload.Ini.lock"))) << error.toStdString();
    EXPECT_EQ(Read(), "[Options]\nComms_Port=3\n");
}

// A read-only file is not replaced, though the folder would allow it.
TEST_F(IniFile, ReadOnlyFileFailsAndIsKept) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root writes read-only files";
    }
    Write("[Options]\nComms_Port=3\n");
    ASSERT_EQ(::chmod(Native().constData(), 0444), 0);
    QString error;
    EXPECT_FALSE(WriteIniValue(Path(), u"Options", u"Comms_Port", "4", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(Read(), "[Options]\nComms_Port=3\n");
    EXPECT_EQ(Entries(), QStringList{"Bootload.Ini"});
}

// Runs Save with the file size limit at Bytes (it binds root too) and SIGXFSZ ignored.
bool UnderFileSizeLimit(rlim_t Bytes, const std::function<bool()>& Save) {
    rlimit previous{};
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = Bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = Save();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    return saved;
}

// A folder the user may not write, holding a settings file they may: no file can be put
// in its place, so it is rewritten in place, shorter or longer, and stays the same file
// with its permissions. A rewrite that fails part-way puts the old bytes back; a missing
// file cannot be made there.
TEST_F(IniFile, FolderThatMayNotBeWrittenHasTheFileRewrittenInPlace) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root writes read-only folders";
    }
    Write("[Options]\nComms_Port=333\n");
    ASSERT_EQ(::chmod(Native().constData(), 0640), 0);
    const struct stat before = Stat();
    const QByteArray folder = QFile::encodeName(Dir.path());
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    const std::unique_ptr<const char, void (*)(const char*)> writableAgain(
        folder.constData(), [](const char* Folder) { ::chmod(Folder, 0755); });

    QString error;
    EXPECT_TRUE(WriteIniValue(Path(), u"Options", u"Comms_Port", "4", &error))
        << error.toStdString();
    EXPECT_EQ(Read(), "[Options]\nComms_Port=4\n");
    EXPECT_TRUE(WriteIniValue(Path(), u"Ports", u"COM3", "/dev/ttyUSB0", &error))
        << error.toStdString();
    const QByteArray saved = "[Options]\nComms_Port=4\n\n[Ports]\nCOM3=/dev/ttyUSB0\n";
    EXPECT_EQ(Read(), saved);
    const struct stat after = Stat();
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(), QStringList{"Bootload.Ini"});

    // Longer than the limit lets it grow: refused before a byte changes.
    EXPECT_FALSE(UnderFileSizeLimit(
        4096, [&] { return WriteIniValue(Path(), u"Options", u"Note", QString(8192, u'x')); }));
    EXPECT_EQ(Read(), saved);
    // The same length, but past the limit already: the write stops part-way.
    const QByteArray large = "[Options]\nComms_Port=3\n;" + QByteArray(8192, 'x') + "\n";
    {
        const std::unique_ptr<const char, void (*)(const char*)> readOnlyAgain(
            folder.constData(), [](const char* Folder) { ::chmod(Folder, 0555); });
        ASSERT_EQ(::chmod(folder.constData(), 0755), 0);
        Write(large);
    }
    EXPECT_FALSE(UnderFileSizeLimit(
        4096, [&] { return WriteIniValue(Path(), u"Options", u"Comms_Port", "4", &error); }));
    EXPECT_EQ(Read(), large);
    EXPECT_FALSE(error.contains(QStringLiteral("could not be put back"))) << error.toStdString();

    EXPECT_FALSE(WriteIniValue(PathOf("new.ini"), u"Options", u"Comms_Port", "4"));
    EXPECT_FALSE(QFile::exists(PathOf("new.ini")));
}

// A write that fails half-way (here: the file size limit) leaves the old file and no
// temporary file.
TEST_F(IniFile, FailedWriteLeavesTheOldFileAndNoTemporary) {
    const QByteArray original = "[Options]\nComms_Port=3\n;" + QByteArray(8192, 'x') + "\n";
    Write(original);
    QString error;
    EXPECT_FALSE(UnderFileSizeLimit(
        4096, [&] { return WriteIniValue(Path(), u"Options", u"Comms_Port", "4", &error); }));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(Read(), original);
    EXPECT_EQ(Entries(), QStringList{"Bootload.Ini"});
}

// The temporary files of saves whose program died (".Bootload.Ini.<pid>-<16 hex>.tmp")
// are removed by the next save; one of a program still running, and every other file,
// stay.
TEST_F(IniFile, ASaveRemovesTheTemporaryFilesOfProgramsThatAreGone) {
    Write("[Options]\nComms_Port=3\n");
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const QString gone = QStringLiteral(".Bootload.Ini.%1-0123456789abcdef.tmp").arg(child);
    const QString running = QStringLiteral(".Bootload.Ini.%1-0123456789abcdef.tmp").arg(::getpid());
    const QStringList others = {".Bootload.Ini.0123456789abcdef.tmp", "notes.tmp",
                                ".other.ini.1-0123456789abcdef.tmp"};
    for (const QString& name : QStringList{gone, running} + others) {
        Write("[Options]\nComms_Po", name);
    }
    ASSERT_TRUE(WriteIniValue(Path(), u"Options", u"Comms_Port", "4"));
    QStringList expected = QStringList{"Bootload.Ini", running} + others;
    expected.sort();
    EXPECT_EQ(Entries(), expected);
}

// Another program replaces the file while the program writes it: whoever renames last
// wins, and no reader ever sees less than a whole file.
TEST_F(IniFile, ConcurrentReplacementNeverShowsAHalfFile) {
    const QByteArray padding = QByteArray("; padding\n").repeated(20000);
    const QByteArray theirs = "[Options]\nComms_Port=7\n" + padding + "; end\n";
    Write(theirs);
    const auto whole = [](const QByteArray& Bytes) {
        return Bytes.startsWith("[Options]\nComms_Port=") && Bytes.endsWith("; end\n");
    };
    std::atomic<bool> stop{false};
    std::atomic<int> halfFiles{0};
    std::atomic<int> replaced{0};
    std::thread other([&] {
        const QString scratch = PathOf("other.tmp");
        while (!stop.load()) {
            QFile file(Path());
            if (file.open(QIODevice::ReadOnly) && !whole(file.readAll())) {
                ++halfFiles;
            }
            file.close();
            QFile mine(scratch);
            if (mine.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                mine.write(theirs) == theirs.size()) {
                mine.close();
                if (::rename(QFile::encodeName(scratch).constData(), Native().constData()) == 0) {
                    ++replaced;
                }
            }
        }
    });
    for (int i = 0; i < 60; ++i) {
        EXPECT_TRUE(WriteIniValue(Path(), u"Options", u"Comms_Port", QString::number(2 + i % 2)));
        EXPECT_TRUE(whole(Read()));
    }
    stop = true;
    other.join();
    EXPECT_GT(replaced.load(), 0);
    EXPECT_EQ(halfFiles.load(), 0);
    EXPECT_TRUE(whole(Read()));
}

} // namespace
