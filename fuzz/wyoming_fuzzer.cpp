// wyoming_fuzzer.cpp: libFuzzer target for the voice service's event reader.
// The input is the byte stream of one connection, handed out in reads of
// sizes taken from its first byte; every event is read until the stream
// ends or the reader refuses it. Small limits let the input reach them.
#include "wyoming.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    size_t step = (size_t)data[0] % 64 + 1, at = 1;
    ksspeech::EventLimits limits;
    limits.header = 4096;
    limits.data = 1024;
    limits.payload = 1024;
    ksspeech::EventReader reader(
        [&](char* buf, size_t n) {
            size_t k = std::min({n, step, size - at});
            std::memcpy(buf, data + at, k);
            at += k;
            return (long)k;
        },
        limits);
    ksspeech::Event e;
    std::string error;
    while (reader.Next(e, error) == ksspeech::EventReader::kEvent) {
        e.data.Text("text");
        e.data.Int("rate", 0);
    }
    return 0;
}
