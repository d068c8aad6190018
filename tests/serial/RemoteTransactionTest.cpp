// Transactions through a remote port: the component on rfc2217://127.0.0.1:PORT, a real
// ser2net in front of a pty whose master the test reads and writes.
#include "PtyPair.h"
#include "Ser2Net.h"
#include "serial/KestComms.h"
#include "serial/RxCondition.h"

#include <gtest/gtest.h>

namespace {

// A server that stalled (stopped, as one that hangs or a link that is gone a while) lets
// the request through late and the unit's reply with it: the request times out, and the
// reply that then arrives belongs to it, not to the retry sent after the time-out.
TEST(RemoteTransaction, AReplyThatComesAfterItsTimeOutIsNotTakenAsTheNextOnes) {
    TPtyPair pty;
    TSer2Net server(TSer2Net::SerialConnector(pty.SlavePath.toStdString()));
    ASSERT_TRUE(server.Start()) << server.LastError();
    TKestComms comms;
    comms.NamedDevice = QString::fromStdString(server.Url());
    comms.BaudRate = 115200;
    comms.RxBufferSize = 500;
    TRxCondition condition;
    // A Modbus write's reply: slave 0x13, function 6, six bytes more.
    const char slave[2] = {0x13, 0};
    const char function[2] = {0x06, 0};
    condition.AddItem(1, slave, false, 1, function, false, 0, 1, 7);
    ASSERT_TRUE(comms.Open());
    comms.SetRxCondition(&condition);

    TPtyResponder unit(pty);
    const QByteArray late = Hex("13 06 00 01 00 01 aa aa");
    const QByteArray answer = Hex("13 06 00 02 00 02 bb bb");
    // The unit answers the retry at once, whenever it comes through.
    unit.OnBytes = [&](const QByteArray&) {
        if (unit.Received.contains(Hex("13 06 00 02"))) {
            pty.Write(answer);
            unit.OnBytes = nullptr;
        }
    };
    const uint8_t first[] = {0x13, 0x06, 0x00, 0x01, 0x00, 0x01, 0x11, 0x11};
    const uint8_t retry[] = {0x13, 0x06, 0x00, 0x02, 0x00, 0x02, 0x22, 0x22};

    server.Pause();
    comms.ResetRxCondition();
    ASSERT_TRUE(comms.SendFrame(first, sizeof first, 3));
    // The unit's answer to the first request, late: it waits in the line for the server.
    ASSERT_TRUE(pty.Write(late));
    EXPECT_EQ(comms.WaitForReply(), 0);

    comms.ResetRxCondition();
    ASSERT_TRUE(comms.SendFrame(retry, sizeof retry, 30));
    server.Resume();
    ASSERT_EQ(comms.WaitForReply(), 1);
    std::vector<uint8_t> reply(65, 0);
    const uint16_t length = comms.ReadReply(1, reply.data(), 64, 0, -1, -1);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(reply.data()), length), answer);
}

} // namespace
