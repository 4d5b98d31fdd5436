// The super button's built-in click sound, made in code rather than stored:
// a short decaying tick as a RIFF wave that PlaySound can play from memory.
#pragma once

#include <cstdint>
#include <vector>

constexpr int kClickSampleRate = 22050;

// 16-bit mono PCM, about 30 ms.
std::vector<uint8_t> makeClickWave();
