#include "tools/denoise-demo/synthetic_scene.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "tools/denoise-demo/demo_network.h"

namespace krell::demo {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfAzimuthRad = 60.0 * kPi / 180.0;
constexpr double kHalfElevationRad = 12.5 * kPi / 180.0;
constexpr float kIntensity = 120.0F;
constexpr float kNoiseIntensity = 20.0F;
//! Spurious returns differ from the true distance by at least this much (about 6 steps of x).
constexpr double kMinNoiseOffsetMetres = 4.0;
constexpr int32_t kReflectorCount = 200;
constexpr int32_t kBoxCount = 6;

// Forward distance of the clean scene at a pixel.
double cleanRange(int32_t row, int32_t col, int32_t index, uint32_t seed) {
    double range = 30.0 + 8.0 * std::sin(2.0 * kPi * col / kCols) + 0.05 * row;
    for (int32_t b = 0; b < kBoxCount; ++b) {
        const int32_t left = static_cast<int32_t>((seed * 131U + b * 409U) % kCols) + 3 * index;
        const int32_t top = 10 + 7 * b;
        if (row >= top && row < top + 16 && (col - left + kCols) % kCols < 48) {
            range = 10.0 + 2.0 * b;
        }
    }
    return range;
}

void putRecord(uint8_t* record, double range, int32_t row, int32_t col, float intensity) {
    const double azimuth = kHalfAzimuthRad * (2.0 * (col + 0.5) / kCols - 1.0);
    const double elevation = kHalfElevationRad * (1.0 - 2.0 * (row + 0.5) / kRows);
    const float values[4] = {
        static_cast<float>(range), static_cast<float>(range * std::tan(azimuth)),
        static_cast<float>(range * std::tan(elevation) / std::cos(azimuth)), intensity};
    std::memcpy(record, values, sizeof(values));
}

}  // namespace

SceneFrame makeSceneFrame(uint32_t seed, int32_t index, double noiseFraction) {
    SceneFrame frame;
    frame.raw.assign(static_cast<size_t>(kPoints) * 16, 0);
    frame.labels.assign(kPoints, 0);
    std::vector<double> range(kPoints);
    for (int32_t i = 0; i < kPoints; ++i) {
        range[i] = cleanRange(i / kCols, i % kCols, index, seed);
    }
    std::mt19937 fixed(seed);
    for (int32_t r = 0; r < kReflectorCount; ++r) {
        range[fixed() % kPoints] -= 6.0 + (fixed() % 8);
    }
    std::mt19937 noise(seed * 7919U + static_cast<uint32_t>(index) + 1U);
    std::uniform_real_distribution<double> spurious(1.0, 60.0);
    const auto noisy = static_cast<int32_t>(noiseFraction * kPoints);
    for (int32_t n = 0; n < noisy; ++n) {
        const int32_t i = static_cast<int32_t>(noise() % kPoints);
        double value = spurious(noise);
        while (std::fabs(value - range[i]) < kMinNoiseOffsetMetres) {
            value = spurious(noise);
        }
        range[i] = value;
        frame.labels[i] = 1;
    }
    for (int32_t i = 0; i < kPoints; ++i) {
        putRecord(&frame.raw[static_cast<size_t>(i) * 16], range[i], i / kCols, i % kCols,
                  frame.labels[i] != 0 ? kNoiseIntensity : kIntensity);
    }
    return frame;
}

bool writeSequence(const std::string& dir, const std::string& labelDir, uint32_t seed,
                   int32_t count, double noiseFraction) {
    for (int32_t index = 0; index < count; ++index) {
        const SceneFrame frame = makeSceneFrame(seed, index, noiseFraction);
        char stem[32];
        std::snprintf(stem, sizeof(stem), "frame_%04d", index);
        std::ofstream raw(dir + "/" + stem + ".bin", std::ios::binary | std::ios::trunc);
        raw.write(reinterpret_cast<const char*>(frame.raw.data()),
                  static_cast<std::streamsize>(frame.raw.size()));
        std::ofstream labels(labelDir + "/" + stem + ".label", std::ios::binary | std::ios::trunc);
        labels.write(reinterpret_cast<const char*>(frame.labels.data()),
                     static_cast<std::streamsize>(frame.labels.size()));
        if (!raw || !labels) {
            return false;
        }
    }
    return true;
}

}  // namespace krell::demo
