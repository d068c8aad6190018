// Transactions through the component over a real pty: matching chunks against the
// attached conditions, the waiting and the event style, the reply timer, Close inside a
// wait, the ring buffer's full rule and ReadReply's forms.
#include "KestCommsTestAccess.h"
#include "PtyPair.h"
#include "serial/KestComms.h"
#include "serial/RxCondition.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

constexpr uint8_t Slave = 0x13;
constexpr uint8_t Function = 0x06;

// The write reply of a Modbus slave: item 1 normal (8 bytes), item 2 exception (5 bytes).
void AddWriteReply(TRxCondition& Condition) {
    const char s[2] = {static_cast<char>(Slave), 0};
    const char f[2] = {static_cast<char>(Function), 0};
    const char e[2] = {static_cast<char>(Function | 0x80), 0};
    Condition.AddItem(1, s, false, 1, f, false, 0, 1, 7);
    Condition.AddItem(1, s, false, 1, e, false, 0, 1, 4);
}

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        Comms.CommPort = COM5;
        Comms.BaudRate = 115200;
        Comms.RxBufferSize = 500;
        Comms.PortMapFile = Map.Path();
        AddWriteReply(Condition);
    }
    void OpenAndAttach() {
        ASSERT_TRUE(Comms.Open());
        Responder = std::make_unique<TPtyResponder>(Pty);
        Comms.SetRxCondition(&Condition);
        Comms.ResetRxCondition();
    }
    bool Send(uint16_t TimeOut) {
        const uint8_t request[] = {Slave, Function, 0, 1, 0, 2, 0xAA, 0xBB};
        return Comms.SendFrame(request, sizeof request, TimeOut);
    }
    // Answers the request with Reply as one chunk.
    void AnswerWith(const QByteArray& Reply) {
        Responder->OnBytes = [this, Reply](const QByteArray&) { Pty.Write(Reply); };
    }
    QByteArray Copy(uint16_t condnum, int32_t Before, int32_t Middle, int32_t After,
                    uint16_t MaxLen = 64) {
        std::vector<uint8_t> dest(MaxLen + 1u, 0xEE);
        const uint16_t n = Comms.ReadReply(condnum, dest.data(), MaxLen, Before, Middle, After);
        EXPECT_EQ(dest[n], 0);
        return QByteArray(reinterpret_cast<const char*>(dest.data()), n);
    }

    TPtyPair Pty;
    TPortMapFile Map{5, Pty.SlavePath};
    TKestComms Comms;
    TRxCondition Condition;
    std::unique_ptr<TPtyResponder> Responder;
};

} // namespace

TEST_F(TransactionTest, AReplyAfterAStrayByteCompletesAndIsCopiedInEachForm) {
    OpenAndAttach();
    AnswerWith(Hex("77 13 06 0a 0b 0c 0d 0e 0f"));
    ASSERT_TRUE(Send(20));
    EXPECT_EQ(Comms.WaitForReply(), 1);
    EXPECT_EQ(Responder->Received, Hex("13 06 00 01 00 02 aa bb"));
    EXPECT_EQ(Copy(1, 0, -1, -1), Hex("13 06 0a 0b 0c 0d 0e 0f"));
    EXPECT_EQ(Copy(1, -1, -1, -1), Hex("77 13 06 0a 0b 0c 0d 0e 0f"));
    EXPECT_EQ(Copy(1, 1, -1, -1), Hex("77 13 06 0a 0b 0c 0d 0e 0f"));
    EXPECT_EQ(Copy(1, 0, 1, 2), Hex("13 06 0a"));
    EXPECT_EQ(Copy(1, 0, 0, 3), Hex("13 06 0a")) << "Middle 0 leaves After at the middle";
    EXPECT_EQ(Copy(1, 0, -1, -1, 4), Hex("13 06 0a 0b")) << "MaxLen bounds every copy";
    EXPECT_EQ(Copy(1, 0, -1, 100), Hex("13 06 0a 0b 0c 0d 0e 0f")) << "never past the data";
}

TEST_F(TransactionTest, AReplyInOneByteChunksCompletesAsInOne) {
    OpenAndAttach();
    const QByteArray reply = Hex("13 86 02 c3 a1");
    int next = 0;
    int chunks = 0;
    Responder->OnBytes = [&](const QByteArray&) { Pty.Write(reply.mid(next++, 1)); };
    Comms.OnReceiveData = [&](const uint8_t*, uint16_t) {
        ++chunks;
        if (next < reply.size()) {
            Pty.Write(reply.mid(next++, 1));
        }
    };
    ASSERT_TRUE(Send(20));
    EXPECT_EQ(Comms.WaitForReply(), 2);
    EXPECT_EQ(chunks, 5);
    EXPECT_EQ(Copy(2, 0, -1, -1), reply);
}

// The reply timer's ticks driven by hand (no event loop runs, so the timer itself never
// fires): the first tick after SendFrame is not counted.
TEST_F(TransactionTest, ATimeOutOfTExpiresOnTickTPlusOne) {
    OpenAndAttach();
    EXPECT_EQ(TKestCommsTestAccess::ReplyTimer(Comms).interval(), 100);
    for (const uint16_t t : std::initializer_list<uint16_t>{0, 1, 2, 20, 65534}) {
        int timeOuts = 0;
        Comms.OnTimeOut = [&] { ++timeOuts; };
        ASSERT_TRUE(Send(t));
        for (uint32_t tick = 1; tick <= t; ++tick) {
            TKestCommsTestAccess::Tick(Comms);
            ASSERT_FALSE(TKestCommsTestAccess::TimedOut(Comms)) << t << " at tick " << tick;
        }
        TKestCommsTestAccess::Tick(Comms);
        EXPECT_TRUE(TKestCommsTestAccess::TimedOut(Comms)) << t;
        EXPECT_EQ(timeOuts, 1) << t;
        EXPECT_FALSE(TKestCommsTestAccess::ReplyTimer(Comms).isActive()) << t;
        EXPECT_EQ(Comms.WaitForReply(), 0) << t;
        EXPECT_EQ(Comms.ReplyStateValue(), 0);
        EXPECT_EQ(Comms.WaitForReply(), 0) << "the time-out stays until the next SendFrame";
    }
}

TEST_F(TransactionTest, AllBitsSetNeverExpiresAndTheReplyStillCompletes) {
    OpenAndAttach();
    int timeOuts = 0;
    Comms.OnTimeOut = [&] { ++timeOuts; };
    ASSERT_TRUE(Send(65535));
    for (uint32_t tick = 0; tick < 70000; ++tick) { // past a 16-bit count's wrap
        TKestCommsTestAccess::Tick(Comms);
    }
    EXPECT_FALSE(TKestCommsTestAccess::TimedOut(Comms));
    EXPECT_EQ(timeOuts, 0);
    ASSERT_TRUE(Pty.Write(Hex("13 06 0a 0b 0c 0d 0e 0f")));
    EXPECT_EQ(Comms.WaitForReply(), 1);
}

TEST_F(TransactionTest, AWaitingProgramUsesLittleCpu) {
    OpenAndAttach();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    ASSERT_TRUE(Send(19)); // two seconds
    EXPECT_EQ(Comms.WaitForReply(), 0);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    auto ms = [](const timeval& T) { return T.tv_sec * 1000.0 + T.tv_usec / 1000.0; };
    const double used =
        ms(after.ru_utime) - ms(before.ru_utime) + ms(after.ru_stime) - ms(before.ru_stime);
    EXPECT_LT(used, 300.0) << "CPU ms used over a 2 s wait";
}

TEST_F(TransactionTest, CloseInsideTheWaitGivesMinusTwo) {
    OpenAndAttach();
    ASSERT_TRUE(Send(65535));
    QTimer::singleShot(300, &Comms, [this] { Comms.Close(); });
    EXPECT_EQ(Comms.WaitForReply(), -2);
    EXPECT_FALSE(Comms.IsOpen());
    EXPECT_EQ(Comms.WaitForReply(), -1) << "a wait after the Close of an open port";
    EXPECT_EQ(Comms.ReplyStateValue(), -1);
}

TEST_F(TransactionTest, CloseAndReopenInsideNestedWaitsEndsBothWithMinusTwo) {
    OpenAndAttach();
    ASSERT_TRUE(Send(65535));
    int32_t inner = 99;
    QTimer::singleShot(50, &Comms, [&] {
        ASSERT_TRUE(Send(65535));
        QTimer::singleShot(50, &Comms, [&] {
            Comms.Close();
            ASSERT_TRUE(Comms.Open()); // the same port again: the waits still end
        });
        inner = Comms.WaitForReply();
    });
    EXPECT_EQ(Comms.WaitForReply(), -2);
    EXPECT_EQ(inner, -2);
    EXPECT_TRUE(Comms.IsOpen());
}

TEST_F(TransactionTest, DestroyingTheComponentInsideItsWaitEndsTheWait) {
    auto owned = std::make_unique<TKestComms>();
    owned->CommPort = COM5;
    owned->PortMapFile = Map.Path();
    ASSERT_TRUE(owned->Open());
    const uint8_t byte = 1;
    ASSERT_TRUE(owned->SendFrame(&byte, 1, 65535));
    QTimer::singleShot(50, [&] { owned.reset(); });
    TKestComms* raw = owned.get();
    EXPECT_EQ(raw->WaitForReply(), -2);
    EXPECT_EQ(owned, nullptr);
}

TEST_F(TransactionTest, ApplicationShutdownEndsAWaitInsteadOfSpinning) {
    OpenAndAttach();
    ASSERT_TRUE(Send(65535));
    QTimer::singleShot(50, [] { QCoreApplication::exit(0); });
    EXPECT_EQ(Comms.WaitForReply(), -1);
    // Let the application's loop run once so that later loops work again.
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
}

TEST_F(TransactionTest, WaitingWithNothingSentReturnsAtOnce) {
    OpenAndAttach();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Comms.WaitForReply(), -1);
    EXPECT_LT(clock.elapsed(), 500);
}

TEST_F(TransactionTest, AReplyProcessedAfterTheTimeOutStillWins) {
    OpenAndAttach();
    ASSERT_TRUE(Send(0));
    // Let the first tick expire the time-out without a wait looking at it.
    QTest::qWait(250);
    ASSERT_TRUE(Pty.Write(Hex("13 06 0a 0b 0c 0d 0e 0f")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Comms.ReplyStateValue() == 1; }, 5000));
    EXPECT_EQ(Comms.WaitForReply(), 1);
}

TEST_F(TransactionTest, TrailingBytesInTheSameChunkAreStoredBeforeTheResult) {
    OpenAndAttach();
    AnswerWith(Hex("13 06 0a 0b 0c 0d 0e 0f 55 66"));
    int32_t stateInHandler = 99;
    Comms.OnReceiveData = [&](const uint8_t*, uint16_t) {
        stateInHandler = Comms.ReplyStateValue();
    };
    ASSERT_TRUE(Send(20));
    EXPECT_EQ(Comms.WaitForReply(), 1);
    EXPECT_EQ(stateInHandler, 1) << "OnReceiveData comes after the conditions";
    EXPECT_EQ(Copy(1, 0, -1, -1), Hex("13 06 0a 0b 0c 0d 0e 0f 55 66"));
}

TEST_F(TransactionTest, TheEventStyleReportsTwoRepliesInOneChunk) {
    OpenAndAttach();
    QList<QByteArray> replies;
    QList<int32_t> numbers;
    Comms.OnReceiveMsg = [&](int32_t condnum) {
        numbers << condnum;
        replies << Copy(condnum, 0, -1, -1);
    };
    ASSERT_TRUE(Pty.Write(Hex("13 06 01 02 03 04 05 06 13 86 02 c3 a1")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return numbers.size() == 2; }, 5000));
    EXPECT_EQ(numbers, (QList<int32_t>{1, 2}));
    EXPECT_EQ(replies[0], Hex("13 06 01 02 03 04 05 06"));
    EXPECT_EQ(replies[1], Hex("13 86 02 c3 a1")) << "the second starts at position 0";
    EXPECT_EQ(Comms.RxWritePosValue(), 0);
}

TEST_F(TransactionTest, AWaitEndsWhenTheEventStyleTakesTheReply) {
    OpenAndAttach();
    AnswerWith(Hex("13 06 0a 0b 0c 0d 0e 0f"));
    int messages = 0;
    Comms.OnReceiveMsg = [&](int32_t) { ++messages; };
    ASSERT_TRUE(Send(65535));
    QTimer::singleShot(3000, &Comms, [this] { Comms.Close(); }); // only if it hangs
    EXPECT_EQ(Comms.WaitForReply(), -1);
    EXPECT_EQ(messages, 1);
    EXPECT_TRUE(Comms.IsOpen());
}

TEST_F(TransactionTest, CloseFromTheEventHandlerStopsTheChunk) {
    OpenAndAttach();
    int calls = 0;
    Comms.OnReceiveMsg = [&](int32_t) {
        ++calls;
        Comms.Close();
    };
    ASSERT_TRUE(Pty.Write(Hex("13 06 01 02 03 04 05 06 13 06 01 02 03 04 05 06")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(Comms.IsOpen());
}

TEST_F(TransactionTest, ANewListWithoutResetOnlyCountsUntilReset) {
    OpenAndAttach();
    AnswerWith(Hex("13 06 0a 0b 0c 0d 0e 0f"));
    ASSERT_TRUE(Send(20));
    ASSERT_EQ(Comms.WaitForReply(), 1);

    TRxCondition second;
    AddWriteReply(second);
    Comms.ClearRxCondition();
    Comms.SetRxCondition(&second);
    ASSERT_TRUE(Send(1));
    EXPECT_EQ(Comms.WaitForReply(), 0) << "the matched index of the last exchange stays";
    Comms.ResetRxCondition();
    ASSERT_TRUE(Send(20));
    EXPECT_EQ(Comms.WaitForReply(), 1);
    Comms.ClearRxCondition();
}

TEST_F(TransactionTest, ReadReplyWithoutAValidConditionCopiesNothing) {
    OpenAndAttach();
    AnswerWith(Hex("13 06 0a 0b 0c 0d 0e 0f"));
    ASSERT_TRUE(Send(20));
    ASSERT_EQ(Comms.WaitForReply(), 1);
    EXPECT_EQ(Copy(0, -1, -1, -1), QByteArray());
    EXPECT_EQ(Copy(3, -1, -1, -1), QByteArray());
    EXPECT_EQ(Copy(65535, -1, -1, -1), QByteArray());
    Comms.ClearRxCondition();
    EXPECT_EQ(Copy(1, -1, -1, -1), QByteArray());
    EXPECT_EQ(Comms.ReadReply(1, nullptr, 10, -1, -1, -1), 0);
}

TEST(RingBuffer, AfterAClearTheLastPositionTakesEveryByteBeyondTheSize) {
    TPtyPair pty;
    TPortMapFile map(6, pty.SlavePath);
    TKestComms comms;
    comms.CommPort = COM6;
    comms.PortMapFile = map.Path();
    comms.RxBufferSize = 4;
    ASSERT_TRUE(comms.Open());
    const uint8_t byte = 0;
    ASSERT_TRUE(comms.SendFrame(&byte, 1, 65535)); // clears the buffer
    ASSERT_TRUE(pty.Write(Hex("01 02 03 04 05 06")));
    int seen = 0;
    comms.OnReceiveData = [&](const uint8_t*, uint16_t Length) { seen += Length; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen == 6; }, 5000));
    const uint8_t* buffer = comms.RxBufferData();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(buffer), 4), Hex("01 02 03 06"));
    EXPECT_EQ(comms.RxWritePosValue(), 3);
}

TEST(RingBuffer, ASizeOfZeroStillHoldsOneByte) {
    TPtyPair pty;
    TPortMapFile map(6, pty.SlavePath);
    TKestComms comms;
    comms.CommPort = COM6;
    comms.PortMapFile = map.Path();
    comms.RxBufferSize = 0;
    ASSERT_TRUE(comms.Open());
    ASSERT_TRUE(pty.Write(Hex("01 02 03")));
    int seen = 0;
    comms.OnReceiveData = [&](const uint8_t*, uint16_t Length) { seen += Length; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen == 3; }, 5000));
    EXPECT_EQ(comms.RxBufferData()[0], 3);
}
