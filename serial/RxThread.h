// TRxThread: the receive thread of an open port. It waits on the port through the
// device's TRxWait, reads whatever arrives (up to 16384 bytes at a time) and posts each
// chunk at once to the component as a TRxChunkEvent, in the order read. A hang-up, a read
// error of the port or a failed allocation ends it quietly; Stop ends it on request. It
// needs no event loop of its own, so it is a plain thread, at the highest normal priority
// the system allows it (serial/ThreadPriority.h).
#pragma once

#include <QByteArray>
#include <QEvent>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

class QObject;
class TRxWait;

// The message that carries a received chunk to the component.
constexpr QEvent::Type RxChunkEventType = static_cast<QEvent::Type>(1026);

class TRxChunkEvent : public QEvent {
public:
    TRxChunkEvent(QByteArray ChunkBytes, uint64_t SessionNumber)
        : QEvent(RxChunkEventType), Bytes(std::move(ChunkBytes)), Session(SessionNumber) {}
    // The received bytes; QByteArray keeps a zero byte after them.
    const QByteArray Bytes;
    // The open session of the component whose thread read them.
    const uint64_t Session;

    // The event queue's own lock orders a chunk's making before its delivery, but race
    // detectors cannot see inside the toolkit: the receive thread publishes every chunk
    // it made, and the component acquires before it looks at an event.
    static void Publish() { Published.fetch_add(1, std::memory_order_release); }
    static void Acquire() { (void)Published.load(std::memory_order_acquire); }

private:
    inline static std::atomic<uint64_t> Published{0};
};

// The component a receive thread posts to, shared between the two. Once cut off, the
// thread can no longer reach the component: a post in progress finishes first (under the
// lock), every later one is dropped.
class TRxTarget {
public:
    explicit TRxTarget(QObject* Target) : Component(Target) {}
    // Posts Event to the component; false (and the event deleted) once cut off.
    bool Post(std::unique_ptr<QEvent> Event);
    void CutOff();

private:
    std::mutex Lock;
    QObject* Component;
};

class TRxThread {
public:
    static constexpr int ReadSize = 16384;

    // The thread reads the port through Wait, which holds the port apart from the device,
    // so the port can be closed even if the thread failed to end. Target must stay alive
    // until Stop has returned, either way: a Stop that gives up cuts the thread off from
    // it first.
    TRxThread(std::unique_ptr<TRxWait> Wait, QObject* Target, uint64_t Session);
    // Only once the thread has ended (Stop returned true) or was never started.
    ~TRxThread();
    TRxThread(const TRxThread&) = delete;
    TRxThread& operator=(const TRxThread&) = delete;

    // Prepares the wait and starts the thread; false when any of that fails.
    bool Begin();
    // Wakes the thread and waits for it at most TimeOutMs; true when it has ended. False:
    // the thread is still running but can no longer post to Target, and its wait has let
    // go of the port (TRxWait::Abandon), so the port can be closed and opened again; the
    // object must then be leaked, not deleted: the thread still uses it.
    bool Stop(int TimeOutMs);
    // True once the thread has ended, by itself (a hang-up, a read error) or by Stop.
    bool HasEnded() const {
        return EndedSignal.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    // Tests only: called by the thread where it allocates a chunk's event; it may throw
    // std::bad_alloc or hold the thread there. Null: nothing is called.
    using TChunkHook = void (*)();
    static void SetChunkHook(TChunkHook Hook) { ChunkHook.store(Hook); }

private:
    void Run();
    void Receive();
    bool PostChunk(const char* Bytes, int Length);

    inline static std::atomic<TChunkHook> ChunkHook{nullptr};

    const std::unique_ptr<TRxWait> Wait;
    const std::shared_ptr<TRxTarget> Target;
    const uint64_t Session;
    std::atomic<bool> Stopping{false};
    // Set by the thread as its last act, so that Stop can wait for it with a bound.
    std::promise<void> Ended;
    std::future<void> EndedSignal = Ended.get_future();
    std::thread Thread;
};
