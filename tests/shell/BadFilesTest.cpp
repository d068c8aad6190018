// Settings and image files that are not what they should be, beyond the shell's own
// cases: huge files, files that are devices behind a link, a FIFO someone is writing
// into, names no file can have. Each is refused with the program's message, promptly,
// and nothing else changes: not the port, not the image, not the file itself.
#include "ShellTestSupport.h"

#include "serial/KestComms.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 HugeSize = 50LL * 1024 * 1024;
// Generous: refusing a file must not depend on reading all of it.
constexpr qint64 PromptMs = 5000;

// What the path is: a link's target, or a regular file's contents (as a digest).
QByteArray Digest(const QString& Path) {
    const QFileInfo info(Path);
    if (info.isSymLink()) {
        return "link to " + info.symLinkTarget().toLocal8Bit();
    }
    if (!info.isFile()) {
        return "not a file";
    }
    QFile file(Path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        return QByteArray();
    }
    return hash.result();
}

class BadSettingsFile : public TShellTest {
protected:
    // Starts the window on the settings file as it is, and checks the outcome every bad
    // file must have: reported, port 1, the build's identity, and the file unchanged
    // also after the program tried to save.
    void ExpectRefusedAndKept(qint64 MaxStartMs) {
        const QByteArray before = Digest(SettingsPath());
        QElapsedTimer clock;
        clock.start();
        TMainForm& form = StartForm();
        EXPECT_LT(clock.elapsed(), MaxStartMs);
        ASSERT_FALSE(MessageTexts().empty());
        EXPECT_EQ(MessageTexts()[0], "Unable to read " + SettingsPath());
        EXPECT_EQ(form.CommsPortNumber, 1);
        EXPECT_EQ(form.ExpectedModelNumber, 5516);
        EXPECT_EQ(form.LastProgramAddress, 0xBFFFu);
        EXPECT_TRUE(form.isVisible());
        Shown.clear();
        clock.restart();
        EXPECT_FALSE(form.SaveSettings());
        EXPECT_LT(clock.elapsed(), MaxStartMs);
        EXPECT_EQ(MessageTexts(), std::vector<QString>{"Unable to write to " + SettingsPath()});
        EXPECT_EQ(Digest(SettingsPath()), before);
    }

    // A file of Size bytes that starts with a valid map of COM1 and goes on with Filler.
    void WriteHuge(const QByteArray& Head, char Filler) {
        QFile file(SettingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(Head), Head.size());
        const QByteArray block(1024 * 1024, Filler);
        for (qint64 written = Head.size(); written < HugeSize; written += block.size()) {
            ASSERT_EQ(file.write(block), block.size());
        }
    }
};

TEST_F(BadSettingsFile, HugeFileIsRefusedPromptlyAndNeverRewritten) {
    // Text the INI reader would take, with a comment 50 MB long after it.
    WriteHuge("[Options]\nComms_Port=2\n[Ports]\nCOM1=/nonexistent/huge\n;", 'x');
    ExpectRefusedAndKept(PromptMs);
    // Opening the port again reads the port map again: that too stays prompt.
    QElapsedTimer clock;
    clock.start();
    Window->Comms->Close();
    Window->Comms->Open();
    EXPECT_LT(clock.elapsed(), PromptMs);
}

TEST_F(BadSettingsFile, HugeBinaryFileIsRefusedPromptlyAndNeverRewritten) {
    QFile file(SettingsPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    std::mt19937 random(7);
    QByteArray block(1024 * 1024, '\0');
    for (qint64 written = 0; written < HugeSize; written += block.size()) {
        for (char& byte : block) {
            byte = static_cast<char>(random() & 0xFF);
        }
        ASSERT_EQ(file.write(block), block.size());
    }
    file.close();
    ExpectRefusedAndKept(PromptMs);
}

TEST_F(BadSettingsFile, LinkToAnEndlessDeviceIsRefusedAndKeptALink) {
    ASSERT_EQ(::symlink("/dev/zero", SettingsPath().toLocal8Bit().constData()), 0);
    ExpectRefusedAndKept(PromptMs);
    EXPECT_TRUE(QFileInfo(SettingsPath()).isSymLink());
}

TEST_F(BadSettingsFile, FifoWithAWriterDoesNotHangStartUp) {
    const QByteArray path = SettingsPath().toLocal8Bit();
    ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
    // Someone holds the other end and has written into it.
    const int writer = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "[Options]\nComms_Port=2\n", 23), 23);
    QElapsedTimer clock;
    clock.start();
    TMainForm& form = StartForm();
    EXPECT_LT(clock.elapsed(), PromptMs);
    ::close(writer);
    ASSERT_FALSE(MessageTexts().empty());
    EXPECT_EQ(MessageTexts()[0], "Unable to read " + SettingsPath());
    EXPECT_EQ(form.CommsPortNumber, 1);
    EXPECT_FALSE(QFileInfo(SettingsPath()).isFile());
}

class BadImageFile : public TLoadFileTest {
protected:
    // Load File on Path: refused with "Cannot open file", promptly, no prompt for the
    // numbers, and the image, its numbers and the log as they were.
    void ExpectRefused(const QString& Path) {
        Shown.clear();
        Answers = {Typed(Path), Typed("7321"), Typed("5599")};
        const int logLines = Window->ListBox1->count();
        QElapsedTimer clock;
        clock.start();
        Window->LoadFile1Click();
        EXPECT_LT(clock.elapsed(), PromptMs);
        EXPECT_EQ(MessageTexts(), std::vector<QString>{"Cannot open file " + Path});
        EXPECT_EQ(Answers.size(), 2u) << "a number was asked for";
        EXPECT_EQ(ImageOf(*Window), Before);
        EXPECT_EQ(Window->ProcessorNumber, 5525);
        EXPECT_EQ(Window->ExpectedModelNumber, 5516);
        EXPECT_EQ(Window->ListBox1->count(), logLines);
        EXPECT_TRUE(Window->Button6->isEnabled());
    }
};

TEST_F(BadImageFile, HugeFileGivesItsFirst64KiBPromptly) {
    const QByteArray path = PathOf("huge.bin").toLocal8Bit();
    {
        QFile file(PathOf("huge.bin"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(QByteArray(65536, '\x5A')), 65536);
        ASSERT_EQ(file.write(QByteArray(1024, '\xA5')), 1024);
    }
    ASSERT_EQ(::truncate(path.constData(), HugeSize), 0); // the rest is a hole of zeros
    Answers = {Typed(PathOf("huge.bin")), Typed("5525"), Typed("5516")};
    QElapsedTimer clock;
    clock.start();
    Window->LoadFile1Click();
    EXPECT_LT(clock.elapsed(), PromptMs);
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_EQ(ImageOf(*Window), QByteArray(65536, '\x5A'));
    EXPECT_TRUE(Window->Button6->isEnabled());
}

TEST_F(BadImageFile, DevicesBehindLinksAreRefused) {
    for (const char* device : {"/dev/zero", "/dev/urandom", "/dev/null"}) {
        const QString link = PathOf(QString("link-%1").arg(QFileInfo(device).fileName()));
        ASSERT_EQ(::symlink(device, link.toLocal8Bit().constData()), 0);
        ExpectRefused(link);
    }
}

TEST_F(BadImageFile, FifoWithAWriterIsRefusedWithoutBlocking) {
    const QByteArray path = PathOf("image.fifo").toLocal8Bit();
    ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
    const int writer = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "\x01\x02\x03\x04", 4), 4);
    ExpectRefused(PathOf("image.fifo"));
    ::close(writer);
}

TEST_F(BadImageFile, NamesNoFileCanHaveAreRefused) {
    ExpectRefused(PathOf(QString(5000, 'n')));                     // longer than a path may be
    ExpectRefused(PathOf("missing-dir/image.bin"));                // in a directory not there
    ExpectRefused(PathOf("Bootload.Ini/image.bin"));               // under a regular file
    ExpectRefused(QString::fromUtf8("/dev/null\xef\xbf\xbd.bin")); // not there either
}

} // namespace
