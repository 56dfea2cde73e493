// Checks on recorded audio: whether what a call played carries the tone that
// was sent, measured on raw 16-bit mono samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pellix::test {

// Size of a file, 0 while it does not exist.
std::size_t fileSize(const std::string& path);

// 16-bit mono samples of a raw little-endian file.
std::vector<std::int16_t> readSamples(const std::string& path, std::size_t skipSamples = 0);
// Share of the signal's power at `frequency` (about 1 for a pure tone there).
double toneShare(const std::vector<std::int16_t>& samples, double rate, double frequency);
// Root mean square, full scale 1.0.
double rms(const std::vector<std::int16_t>& samples);

}  // namespace pellix::test
