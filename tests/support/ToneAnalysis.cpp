#include "support/ToneAnalysis.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>

namespace pellix::test {

std::size_t fileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<std::size_t>(size);
}

std::vector<std::int16_t> readSamples(const std::string& path, std::size_t skipSamples) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples;
    for (std::size_t i = skipSamples * 2; i + 1 < bytes.size(); i += 2)
        samples.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) | (static_cast<std::uint8_t>(bytes[i + 1]) << 8)));
    return samples;
}

double toneShare(const std::vector<std::int16_t>& samples, double rate, double frequency) {
    if (samples.empty()) return 0;
    // Goertzel at the one frequency, against the total power.
    const double w = 2 * std::numbers::pi * frequency / rate;
    const double coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0, energy = 0;
    for (std::int16_t sample : samples) {
        const double x = sample / 32768.0;
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
        energy += x * x;
    }
    const double n = static_cast<double>(samples.size());
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    const double meanSquare = energy / n;
    return meanSquare > 0 ? (2 * power / (n * n)) / meanSquare : 0;
}

double rms(const std::vector<std::int16_t>& samples) {
    if (samples.empty()) return 0;
    double energy = 0;
    for (std::int16_t sample : samples) energy += (sample / 32768.0) * (sample / 32768.0);
    return std::sqrt(energy / static_cast<double>(samples.size()));
}

}  // namespace pellix::test
