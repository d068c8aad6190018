// Throughput of the receive-condition matching and of the Modbus CRC, on the replies the
// updater really receives. Run: bootload_bench [--benchmark_filter=...]
#include "modbus/ModbusCrc.h"
#include "serial/RxCondition.h"
#include "upgrade/BootFrame.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

// A reply stream cut into replies, each preceded by a reset, as one transaction each.
struct TStream {
    std::vector<TBytes> Replies;
    size_t Bytes() const {
        size_t n = 0;
        for (const TBytes& r : Replies) {
            n += r.size();
        }
        return n;
    }
};

// Feeds one reply the way the serial component does and asks for the completed number
// after every byte (its event style, the busier of its two styles).
int FeedReply(TRxCondition& List, const TBytes& Reply) {
    List.Reset();
    bool matched = false;
    int complete = 0;
    for (uint8_t c : Reply) {
        if (matched) {
            List.CountByte();
        } else {
            matched = List.MatchByte(c) != -1;
        }
        for (int n = 1; n <= List.Count && complete == 0; ++n) {
            if (List.IsComplete(n)) {
                complete = n;
            }
        }
    }
    return complete;
}

void RunStream(benchmark::State& State, TRxCondition& List, const TStream& Stream) {
    for (auto _ : State) {
        int completed = 0;
        for (const TBytes& reply : Stream.Replies) {
            completed += FeedReply(List, reply);
        }
        benchmark::DoNotOptimize(completed);
    }
    State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Stream.Bytes()));
}

TBytes WithCrc(TBytes Frame) {
    const uint16_t crc = ModbusCrc(Frame.data(), 0, static_cast<uint16_t>(Frame.size() - 1));
    Frame.push_back(static_cast<uint8_t>(crc >> 8));
    Frame.push_back(static_cast<uint8_t>(crc));
    return Frame;
}

// Slave 19, function 3, two registers: mostly normal replies, some exception replies and
// some with a stray byte in front.
void BM_MatchModbusReadReply(benchmark::State& State) {
    TRxCondition list;
    list.AddItem(1, "\x13", false, 1, "\x03", false, 0, 1, 2 * 2 + 4);
    list.AddItem(1, "\x13", false, 1, "\x83", false, 0, 1, 4);
    TStream stream;
    for (int i = 0; i < 100; ++i) {
        const auto v = static_cast<uint8_t>(i);
        TBytes reply = WithCrc({0x13, 0x03, 0x04, 0x15, 0x8C, v, 0x96});
        if (i % 10 == 3) {
            reply = WithCrc({0x13, 0x83, 0x02});
        } else if (i % 10 == 7) {
            reply.insert(reply.begin(), 0xFF);
        }
        stream.Replies.push_back(reply);
    }
    RunStream(State, list, stream);
}
BENCHMARK(BM_MatchModbusReadReply);

// DLE STX .. DLE ETX: identity and model-number replies and 128-byte read-backs whose
// data hold doubled DLEs.
void BM_MatchBootFrame(benchmark::State& State) {
    TRxCondition list;
    list.AddItem(2, "\x10\x02", true, 2, "\x10\x03", true, 0, 1, 0);
    TStream stream;
    for (int i = 0; i < 30; ++i) {
        TBytes data;
        if (i % 3 == 0) {
            data.resize(128);
            for (size_t k = 0; k < data.size(); ++k) {
                data[k] = static_cast<uint8_t>((k * 7 + i) % 32); // one DLE in 32
            }
        } else {
            data = {0x15, 0x8C, static_cast<uint8_t>(i), 0x10};
        }
        stream.Replies.push_back(
            BuildBootFrame(0x00, static_cast<uint8_t>(data.size()), data.data(), data.size()));
    }
    RunStream(State, list, stream);
}
BENCHMARK(BM_MatchBootFrame);

void BM_ModbusCrc(benchmark::State& State) {
    TBytes frame(static_cast<size_t>(State.range(0)));
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(i * 31 + 7);
    }
    const auto last = static_cast<uint16_t>(frame.size() - 1);
    for (auto _ : State) {
        benchmark::DoNotOptimize(frame.data());
        benchmark::DoNotOptimize(ModbusCrc(frame.data(), 0, last));
    }
    State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * frame.size()));
}
BENCHMARK(BM_ModbusCrc)->Arg(8)->Arg(256);

} // namespace

BENCHMARK_MAIN();
