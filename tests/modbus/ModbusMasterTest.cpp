// The Modbus RTU master against a scripted slave at the master side of a pty: request
// bytes on the wire, the result codes, the reply CRC and the copy of the values.
#include "PtyPair.h"
#include "modbus/ModBusPro.h"
#include "modbus/ModbusCrc.h"
#include "serial/KestComms.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Appends the CRC of Frame, low byte first.
QByteArray WithCrc(QByteArray Frame) {
    const uint16_t crc = ModbusCrc(reinterpret_cast<const uint8_t*>(Frame.constData()), 0,
                                   static_cast<uint16_t>(Frame.size() - 1));
    Frame.append(static_cast<char>(crc >> 8));
    Frame.append(static_cast<char>(crc & 0xFF));
    return Frame;
}

class ModbusMasterTest : public ::testing::Test {
protected:
    void SetUp() override {
        Port = new TKestComms;
        Port->CommPort = COM8;
        Port->BaudRate = 115200;
        Port->RxBufferSize = 500;
        Port->PortMapFile = Map.Path();
        ASSERT_TRUE(Port->Open());
        Responder = std::make_unique<TPtyResponder>(Pty);
    }
    void TearDown() override { delete Port; }

    // Once the request of RequestLength bytes is in, answers with the chunks, each one
    // written when the component has taken the one before, so that each is one read.
    void Answer(int RequestLength, QList<QByteArray> Chunks) {
        Pending = std::move(Chunks);
        Responder->OnBytes = [this, RequestLength](const QByteArray&) {
            if (Responder->Received.size() == RequestLength) {
                SendNext();
            }
        };
        Port->OnReceiveData = [this](const uint8_t*, uint16_t) { SendNext(); };
    }
    void SendNext() {
        if (!Pending.isEmpty()) {
            Pty.Write(Pending.takeFirst());
        }
    }

    TPtyPair Pty;
    TPortMapFile Map{8, Pty.SlavePath};
    TKestComms* Port = nullptr;
    std::unique_ptr<TPtyResponder> Responder;
    QList<QByteArray> Pending;
};

} // namespace

TEST_F(ModbusMasterTest, TheIdentityReadGoesOutAsSpecifiedAndReturnsTheValues) {
    Answer(8, {WithCrc(Hex("13 03 04 15 8c 00 96"))});
    uint16_t values[2] = {0, 0};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), 1);
    EXPECT_EQ(Responder->Received, Hex("13 03 00 14 00 02 87 7d"));
    EXPECT_EQ(values[0], 5516);
    EXPECT_EQ(values[1], 150);
}

TEST_F(ModbusMasterTest, StrayBytesBeforeTheReplyAreSkipped) {
    Answer(8, {Hex("00 ff 55"), WithCrc(Hex("13 03 04 00 01 00 02"))});
    uint16_t values[2] = {0, 0};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), 1);
    EXPECT_EQ(values[1], 2);
}

TEST_F(ModbusMasterTest, AReplyInOneByteChunksReadsAsInOne) {
    const QByteArray reply = WithCrc(Hex("13 03 04 12 34 56 78"));
    QList<QByteArray> chunks;
    for (const char byte : reply) {
        chunks << QByteArray(1, byte);
    }
    Answer(8, chunks);
    uint16_t values[2] = {0, 0};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), 1);
    EXPECT_EQ(values[0], 0x1234);
    EXPECT_EQ(values[1], 0x5678);
}

TEST_F(ModbusMasterTest, AnExceptionReplyGivesTwoAndLeavesTheValues) {
    Answer(8, {WithCrc(Hex("13 83 02"))});
    uint16_t values[2] = {7, 7};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), 2);
    EXPECT_EQ(values[0], 7);
    EXPECT_EQ(values[1], 7);
}

TEST_F(ModbusMasterTest, ABadCrcGivesMinusOneAndLeavesTheValues) {
    QByteArray reply = WithCrc(Hex("13 03 04 00 01 00 02"));
    reply[reply.size() - 1] = static_cast<char>(reply.back() ^ 0x01);
    Answer(8, {reply});
    uint16_t values[2] = {7, 7};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), -1);
    EXPECT_EQ(values[0], 7);
}

TEST_F(ModbusMasterTest, TrailingBytesInTheSameChunkSpoilTheCrc) {
    Answer(8, {WithCrc(Hex("13 03 04 00 01 00 02")) + Hex("99")});
    uint16_t values[2] = {7, 7};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), -1);
    EXPECT_EQ(values[0], 7);
}

TEST_F(ModbusMasterTest, AStrayByteAfterTheAddressSpoilsAReadButNotAWrite) {
    // The stray byte is copied with the read reply and enters the CRC check.
    Answer(8, {Hex("13 44") + WithCrc(Hex("03 04 00 01 00 02"))});
    uint16_t values[2] = {7, 7};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), -1);
    Responder->Received.clear();
    Answer(8, {Hex("13 44 06 00 10 00 05 aa bb")});
    EXPECT_EQ(WriteRegister(Port, 19, 6, 16, 5, 20), 1);
}

TEST_F(ModbusMasterTest, ALongerByteCountNeverWritesPastCountValues) {
    // Asked for one register; the reply announces and carries three.
    Answer(8, {WithCrc(Hex("13 03 06 00 0a 00 0b 00 0c"))});
    uint16_t values[3] = {7, 7, 7};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 1, 20, values), 1);
    EXPECT_EQ(values[0], 10);
    EXPECT_EQ(values[1], 7);
    EXPECT_EQ(values[2], 7);
}

TEST_F(ModbusMasterTest, AReplyLongerThanTheBufferCopiesOnlyWhatTheBufferHeld) {
    // A 9-byte buffer keeps the reply's first 8 bytes (the last position takes every later
    // byte), so the copy holds 8: a good CRC over the first 6, and one word of data,
    // although the byte count announces four.
    Port->Close();
    Port->RxBufferSize = 9;
    ASSERT_TRUE(Port->Open());
    Answer(8, {WithCrc(Hex("13 03 08 00 0a 00")) + Hex("0b 00 0c 00 0d")});
    uint16_t values[4] = {7, 7, 7, 7};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 4, 20, values), 1);
    EXPECT_EQ(values[0], 10);
    EXPECT_EQ(values[1], 7);
    EXPECT_EQ(values[3], 7);
}

TEST_F(ModbusMasterTest, WritesGoOutInTheirLayouts) {
    Answer(8, {Hex("11 67 00 2a 12 34 00 00")});
    EXPECT_EQ(WriteRegister(Port, 17, 103, 42, 0x1234, 20), 1);
    EXPECT_EQ(Responder->Received, WithCrc(Hex("11 67 00 2a 12 34")));

    Responder->Received.clear();
    const uint16_t values[3] = {0x0102, 0xA0B0, 0xFFFF};
    Answer(15, {Hex("14 68 00 05 00 03 00 00")});
    EXPECT_EQ(WriteRegisters(Port, 20, 104, 5, 3, values, 20), 1);
    EXPECT_EQ(Responder->Received, WithCrc(Hex("14 68 00 05 00 03 06 01 02 a0 b0 ff ff")));
}

TEST_F(ModbusMasterTest, WriteRegistersWithCountZeroSendsNineBytes) {
    Answer(9, {Hex("14 68 00 05 00 00 00 00")});
    EXPECT_EQ(WriteRegisters(Port, 20, 104, 5, 0, nullptr, 20), 1);
    EXPECT_EQ(Responder->Received, WithCrc(Hex("14 68 00 05 00 00 00")));
}

TEST_F(ModbusMasterTest, WriteRegistersWithMoreThanTwentySendsNothing) {
    const std::vector<uint16_t> values(21, 1);
    EXPECT_EQ(WriteRegisters(Port, 20, 104, 5, 21, values.data(), 20), -1);
    EXPECT_FALSE(QTest::qWaitFor([&] { return !Responder->Received.isEmpty(); }, 200));
    Answer(49, {Hex("14 68 00 05 00 14 00 00")});
    EXPECT_EQ(WriteRegisters(Port, 20, 104, 5, 20, values.data(), 20), 1);
    EXPECT_EQ(Responder->Received.size(), 49);
}

TEST_F(ModbusMasterTest, RepliesOneByteShortEndInTheTimeOutAndExceptionsToWritesGiveTwo) {
    // Each short reply is in the buffer before the time-out ends the wait.
    Answer(8, {Hex("13 06 00 10 00 05 aa")}); // a write reply is 8 bytes
    EXPECT_EQ(WriteRegister(Port, 19, 6, 16, 5, 3), 0);
    EXPECT_EQ(Port->RxWritePosValue(), 7);
    Responder->Received.clear();
    Answer(8, {Hex("13 86 02 aa")}); // an exception reply is 5 bytes
    EXPECT_EQ(WriteRegister(Port, 19, 6, 16, 5, 3), 0);
    EXPECT_EQ(Port->RxWritePosValue(), 4);

    Responder->Received.clear();
    Answer(8, {WithCrc(Hex("13 86 02"))});
    EXPECT_EQ(WriteRegister(Port, 19, 6, 16, 5, 20), 2);
    Responder->Received.clear();
    const uint16_t values[2] = {1, 2};
    Answer(13, {WithCrc(Hex("14 e8 04"))});
    EXPECT_EQ(WriteRegisters(Port, 20, 104, 5, 2, values, 20), 2);
}

TEST_F(ModbusMasterTest, BroadcastToSlaveZeroEndsInTheTimeOut) {
    Answer(8, {Hex("00 06 00 10 00 05 00 00")}); // nothing can match a zero start byte
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(WriteRegister(Port, 0, 6, 16, 5, 2), 0);
    EXPECT_GE(clock.elapsed(), 250);
}

TEST_F(ModbusMasterTest, NoReplyEndsInTheTimeOut) {
    uint16_t values[2] = {7, 7};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 1, values), 0);
    EXPECT_EQ(values[0], 7);
}

TEST_F(ModbusMasterTest, CloseDuringTheWaitGivesMinusTwoAndAClosedPortMinusOne) {
    QTimer::singleShot(100, Port, [this] { Port->Close(); });
    uint16_t values[2] = {7, 7};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), -2);
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), -1);
    EXPECT_EQ(WriteRegister(Port, 19, 6, 20, 2, 20), -1);
    EXPECT_EQ(values[0], 7);
}

TEST_F(ModbusMasterTest, DestroyingTheComponentDuringTheWaitIsSurvived) {
    QTimer::singleShot(100, [this] {
        delete Port;
        Port = nullptr;
    });
    uint16_t values[2] = {7, 7};
    EXPECT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), -2);
    EXPECT_EQ(Port, nullptr);
}

TEST_F(ModbusMasterTest, TheListIsDetachedSoLaterBytesAreHarmless) {
    Answer(8, {WithCrc(Hex("13 03 04 00 01 00 02"))});
    uint16_t values[2] = {0, 0};
    ASSERT_EQ(ReadRegisters(Port, 19, 3, 20, 2, 20, values), 1);
    int seen = 0;
    Port->OnReceiveData = [&](const uint8_t*, uint16_t Length) { seen += Length; };
    ASSERT_TRUE(Pty.Write(Hex("13 03 04 00 01 00 02 aa bb")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen == 9; }, 5000));
    uint8_t dest[8];
    EXPECT_EQ(Port->ReadReply(1, dest, 7, -1, -1, -1), 0);
}

TEST(ModbusMaster, ANullComponentGivesMinusOne) {
    TKestComms* none = nullptr;
    uint16_t values[1] = {7};
    EXPECT_EQ(ReadRegisters(none, 1, 3, 0, 1, 20, values), -1);
    EXPECT_EQ(WriteRegister(none, 1, 6, 0, 1, 20), -1);
    EXPECT_EQ(WriteRegisters(none, 1, 104, 0, 1, values, 20), -1);
    EXPECT_EQ(values[0], 7);
}
