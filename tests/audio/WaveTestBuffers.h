// Buffers and message helpers shared by the audio tests.
#pragma once

#include "platform/WaveDriver.h"

#include <chrono>
#include <cstdint>
#include <vector>

// Count buffers of Size bytes; the headers never move.
struct TTestBuffers {
    TTestBuffers(size_t count, uint32_t size) : Data(count, std::vector<uint8_t>(size)), Headers(count) {
        for (size_t i = 0; i < count; ++i) {
            Headers[i].Data = Data[i].data();
            Headers[i].BufferLength = size;
        }
    }
    std::vector<std::vector<uint8_t>> Data;
    std::vector<TWaveHeader> Headers;
};

// Up to Count messages, each waited for at most Timeout.
inline std::vector<TWaveMessage> TakeMessages(TWaveMessageQueue& queue, size_t count,
                                              std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::vector<TWaveMessage> out;
    TWaveMessage m;
    while (out.size() < count && queue.Get(m, timeout)) out.push_back(m);
    return out;
}
