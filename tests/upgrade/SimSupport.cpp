#include "SimSupport.h"

#include "shell/Main1.h"
#include "upgrade/BootFrame.h"

#include <gtest/gtest.h>

std::unique_ptr<TUnitSim> StartUnit(const TUnitSimConfig& Config) {
    auto unit = std::make_unique<TUnitSim>(Config);
    EXPECT_TRUE(unit->Start()) << unit->LastError();
    return unit;
}

uint32_t TBootRequest::Address() const {
    if (Payload.size() < 3) {
        return 0;
    }
    return uint32_t{Payload[0]} | (uint32_t{Payload[1]} << 8) | (uint32_t{Payload[2]} << 16);
}

namespace {
bool IsBootFrame(const std::vector<uint8_t>& Bytes) {
    return Bytes.size() >= 2 && Bytes[0] == DLE && Bytes[1] == STX;
}
} // namespace

std::vector<TBootRequest> BootRequests(const TUnitSimReport& Report) {
    std::vector<TBootRequest> requests;
    for (const TSimFrame& frame : Report.Frames) {
        if (!frame.FromUpdater || !IsBootFrame(frame.Bytes)) {
            continue;
        }
        const std::vector<uint8_t> body = UnstuffBootFrame(frame.Bytes.data(), frame.Bytes.size());
        // STX, command, count, payload..., checksum, ETX
        if (body.size() < 5) {
            continue;
        }
        TBootRequest request;
        request.Command = body[1];
        request.Count = body[2];
        request.Payload.assign(body.begin() + 3, body.end() - 2);
        request.Rate = frame.Rate;
        requests.push_back(std::move(request));
    }
    return requests;
}

std::vector<TBootRequest> BootRequests(const TUnitSimReport& Report, uint8_t Command) {
    std::vector<TBootRequest> picked;
    for (TBootRequest& request : BootRequests(Report)) {
        if (request.Command == Command) {
            picked.push_back(std::move(request));
        }
    }
    return picked;
}

std::vector<TModbusRequest> ModbusRequests(const TUnitSimReport& Report) {
    std::vector<TModbusRequest> requests;
    for (const TSimFrame& frame : Report.Frames) {
        const std::vector<uint8_t>& b = frame.Bytes;
        if (!frame.FromUpdater || IsBootFrame(b) || b.size() < 8) {
            continue;
        }
        TModbusRequest request;
        request.Slave = b[0];
        request.Function = b[1];
        request.Register = static_cast<uint16_t>((b[2] << 8) | b[3]);
        request.Value = static_cast<uint16_t>((b[4] << 8) | b[5]);
        if ((request.Function == 16 || request.Function == 104) && b.size() >= 9) {
            for (size_t i = 7; i + 1 < b.size() - 2 && request.Values.size() < request.Value;
                 i += 2) {
                request.Values.push_back(static_cast<uint16_t>((b[i] << 8) | b[i + 1]));
            }
        }
        request.Rate = frame.Rate;
        requests.push_back(std::move(request));
    }
    return requests;
}

double WireSeconds(const TUnitSimReport& Report) {
    double seconds = 0;
    for (const TSimFrame& frame : Report.Frames) {
        if (frame.Rate > 0) {
            seconds += 10.0 * static_cast<double>(frame.Bytes.size()) / frame.Rate;
        }
    }
    return seconds;
}

double BootWireSeconds(const TUnitSimReport& Report, uint8_t Command) {
    double seconds = 0;
    for (const TSimFrame& frame : Report.Frames) {
        if (frame.Rate > 0 && IsBootFrame(frame.Bytes) && frame.Bytes.size() > 2 &&
            frame.Bytes[2] == Command) {
            seconds += 10.0 * static_cast<double>(frame.Bytes.size()) / frame.Rate;
        }
    }
    return seconds;
}

void ExpectFlashHoldsImage(const TUnitSimReport& Report, const TMainForm& Form) {
    ASSERT_EQ(Report.Flash.size(), 0x10000u);
    for (uint32_t a = 0x0800; a <= Form.LastProgramAddress; ++a) {
        ASSERT_EQ(Report.Flash[a], Form.ImageBuffer[a]) << "at 0x" << std::hex << a;
    }
}
