// The receive thread at the edges of its life: a thread that Close gave up waiting for
// must not reach its component any more, nor keep the port, and running out of memory
// ends the thread as a hang-up does instead of ending the program. A pipe or a pty stands
// in for the port; the thread's chunk hook holds it or fails its allocation where it makes
// a chunk.
#include "serial/PosixRxWait.h"
#include "serial/RxThread.h"
#include "serial/SerialDevice.h"

#include "PtyPair.h"
#include "SerialTrace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QObject>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <unistd.h>

namespace {

constexpr int BoundMs = 10000;

// Counts the chunks posted to it.
class TChunkCounter : public QObject {
public:
    int Chunks = 0;

protected:
    bool event(QEvent* Event) override {
        if (Event->type() != RxChunkEventType) {
            return QObject::event(Event);
        }
        TRxChunkEvent::Acquire();
        ++Chunks;
        return true;
    }
};

// A hook that holds the thread until released (or the bound passes).
struct THold {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Entered = false;
    bool Released = false;
};
THold& Hold() {
    static THold hold;
    return hold;
}
void HoldThread() {
    THold& hold = Hold();
    std::unique_lock<std::mutex> lock(hold.Lock);
    hold.Entered = true;
    hold.Changed.notify_all();
    hold.Changed.wait_for(lock, std::chrono::milliseconds(BoundMs), [&] { return hold.Released; });
}

// Readies the hold for a new thread, waits until the thread is in it, lets it go.
void ResetHold() {
    THold& hold = Hold();
    const std::lock_guard<std::mutex> lock(hold.Lock);
    hold.Entered = false;
    hold.Released = false;
}
bool WaitUntilHeld() {
    THold& hold = Hold();
    std::unique_lock<std::mutex> lock(hold.Lock);
    return hold.Changed.wait_for(lock, std::chrono::milliseconds(BoundMs),
                                 [&] { return hold.Entered; });
}
void ReleaseHold() {
    THold& hold = Hold();
    const std::lock_guard<std::mutex> lock(hold.Lock);
    hold.Released = true;
    hold.Changed.notify_all();
}

// How many descriptors of this program are open on the device at Path.
int DescriptorsOn(const QString& Path) {
    const QString device = QFile::symLinkTarget(Path).isEmpty() ? Path : QFile::symLinkTarget(Path);
    int count = 0;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString& name : descriptors.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (QFile::symLinkTarget(descriptors.filePath(name)) == device) {
            ++count;
        }
    }
    return count;
}

void FailAllocation() {
    throw std::bad_alloc();
}

// A pipe whose read end plays the port; the hook is reset when it goes.
class ReceiveThread : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::pipe2(Ends, O_CLOEXEC | O_NONBLOCK), 0); }
    void TearDown() override {
        TRxThread::SetChunkHook(nullptr);
        ::close(Ends[0]);
        ::close(Ends[1]);
    }
    void Send() { ASSERT_EQ(::write(Ends[1], "x", 1), 1); }
    int ReadEnd() const { return Ends[0]; }

private:
    int Ends[2] = {-1, -1};
};

TEST_F(ReceiveThread, LeftRunningByStopItCannotReachItsComponent) {
    TSerialTrace trace;
    TChunkCounter component;
    ResetHold();
    TRxThread::SetChunkHook(HoldThread);
    TRxThread thread(std::make_unique<TPosixRxWait>(ReadEnd()), &component, 1);
    ASSERT_TRUE(thread.Begin());
    Send();
    ASSERT_TRUE(WaitUntilHeld());
    // Held while it makes the chunk, past its stop flag: Stop gives up.
    EXPECT_FALSE(thread.Stop(50));
    EXPECT_TRUE(trace.Has(QStringLiteral("leaked")));
    ReleaseHold();
    // Let go, the thread ends; whatever it made never reaches the component.
    ASSERT_TRUE(thread.Stop(BoundMs));
    QCoreApplication::sendPostedEvents(&component);
    EXPECT_EQ(component.Chunks, 0);
}

// A thread held up in the middle of a read, as by a driver that blocks: once Stop gives up
// on it and the device is closed, nothing of this program holds the port any more (the
// line is free for this program's next open and for others), though the thread lives on.
TEST_F(ReceiveThread, LeftRunningByStopLetsGoOfThePort) {
    TPtyPair pty;
    std::unique_ptr<TSerialDevice> device = MakeSerialDevice();
    ASSERT_EQ(device->Open(pty.SlavePath), TSerialDevice::TOpenResult::Opened)
        << device->LastError().toStdString();
    ASSERT_TRUE(device->Configure(TLineSettings{})) << device->LastError().toStdString();
    TChunkCounter component;
    ResetHold();
    TRxThread::SetChunkHook(HoldThread);
    TRxThread thread(device->MakeRxWait(), &component, 1);
    ASSERT_TRUE(thread.Begin());
    ASSERT_TRUE(pty.Write("x"));
    ASSERT_TRUE(WaitUntilHeld());
    ASSERT_FALSE(thread.Stop(50));
    device->Close();
    EXPECT_EQ(DescriptorsOn(pty.SlavePath), 0);
    ReleaseHold();
    // Let go, it ends by itself without reading anything more.
    ASSERT_TRUE(thread.Stop(BoundMs));
    QCoreApplication::sendPostedEvents(&component);
    EXPECT_EQ(component.Chunks, 0);
}

TEST_F(ReceiveThread, OutOfMemoryEndsTheThreadQuietly) {
    TSerialTrace trace;
    TChunkCounter component;
    TRxThread::SetChunkHook(FailAllocation);
    TRxThread thread(std::make_unique<TPosixRxWait>(ReadEnd()), &component, 1);
    ASSERT_TRUE(thread.Begin());
    Send();
    QTRY_VERIFY_WITH_TIMEOUT(trace.Has(QStringLiteral("receive thread ends: out of memory")),
                             BoundMs);
    EXPECT_TRUE(thread.Stop(BoundMs));
    QCoreApplication::sendPostedEvents(&component);
    EXPECT_EQ(component.Chunks, 0);
}

} // namespace
