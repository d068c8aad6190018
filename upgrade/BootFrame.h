// The bootloader's frame: DLE STX, the body with every 0x10 doubled, DLE ETX.
// Body: command, count, payload, checksum (the 8-bit sum of the whole body is 0).
// Plain byte logic, shared by the updater and the simulated unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint8_t DLE = 0x10;
constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;

// Largest payload of a request (3 address bytes and a 128-byte block).
constexpr size_t MaxBootPayload = 131;

// Two's complement of the 8-bit sum of the bytes.
uint8_t BootChecksum(const uint8_t* Bytes, size_t Length);

// Stuffed frame for command, count and payload, checksum added.
std::vector<uint8_t> BuildBootFrame(uint8_t Command, uint8_t Count, const uint8_t* Payload,
                                    size_t PayloadLength);

// Undoes the doubling: every 0x10 is dropped and the byte after it kept as it is.
std::vector<uint8_t> UnstuffBootFrame(const uint8_t* Bytes, size_t Length);

// Checks an unstuffed reply (STX, command, count, data, checksum, ETX): the bytes between
// the first and the last must sum to 0. Gives 1 and copies up to Count data bytes into
// Reply, never more than the frame carries; gives -1, Reply untouched, for a bad checksum
// or a frame too short to hold command, count and checksum.
int32_t DecodeBootReply(const uint8_t* Unstuffed, size_t Length, uint8_t Count, uint8_t* Reply);
