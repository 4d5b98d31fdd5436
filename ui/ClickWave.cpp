#include "ui/ClickWave.h"

#include <cmath>

namespace {
void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void tag(std::vector<uint8_t>& out, const char* t) { out.insert(out.end(), t, t + 4); }
}  // namespace

std::vector<uint8_t> makeClickWave() {
    constexpr int kSamples = kClickSampleRate * 30 / 1000;
    constexpr uint32_t kDataBytes = kSamples * 2;
    std::vector<uint8_t> out;
    out.reserve(44 + kDataBytes);
    tag(out, "RIFF");
    put32(out, 36 + kDataBytes);
    tag(out, "WAVE");
    tag(out, "fmt ");
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, 1);  // mono
    put32(out, kClickSampleRate);
    put32(out, kClickSampleRate * 2);
    put16(out, 2);   // block align
    put16(out, 16);  // bits per sample
    tag(out, "data");
    put32(out, kDataBytes);
    // Two high partials under a fast exponential decay sound like a light tick.
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < kSamples; i++) {
        const double t = double(i) / kClickSampleRate;
        const double v = std::exp(-t * 220.0) * (0.6 * std::sin(2 * pi * 2400 * t) + 0.4 * std::sin(2 * pi * 3900 * t));
        put16(out, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 12000))));
    }
    return out;
}
