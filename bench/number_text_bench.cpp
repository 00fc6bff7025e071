// Speed of both number text styles over random and typical floats, beside a std::to_chars
// baseline that only produces 18 significant digits of the same values.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "number_text.h"

namespace {

constexpr std::size_t kValueCount = 1 << 12;  // a power of two, so the index wraps by a mask

std::vector<float> RandomValues(bool finiteOnly) {
  std::mt19937 random(12345);
  std::vector<float> values;
  while (values.size() < kValueCount) {
    const auto value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    if (!finiteOnly || std::isfinite(value)) values.push_back(value);
  }
  return values;
}

// Values as they appear in the tables: prices, speeds, ratios, durations.
std::vector<float> TypicalValues() {
  const float typical[] = {1500.0f, 0.5f,  2.5f,  0.1f,   0.666667f, 100.0f, 0.25f, 30.0f,
                           12.5f,   1.0f,  0.0f,  -1.0f,  0.75f,     3.0f,   0.3f,  250.0f,
                           0.05f,   10.0f, 1.25f, 0.333f, 45.0f,     0.01f,  5.0f,  2000.0f,
                           0.2f,    60.0f, 1.5f,  0.125f, -0.5f,     7.5f,   0.9f,  20.0f};
  std::vector<float> values;
  while (values.size() < kValueCount) {
    for (const float value : typical)
      values.push_back(value);
  }
  values.resize(kValueCount);
  return values;
}

using TextFunction = std::size_t (*)(float, char, char*);

void RunStyle(benchmark::State& state, const std::vector<float>& values, TextFunction text) {
  char out[kNumberTextCapacity];
  std::size_t index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(text(values[index], '.', out));
    benchmark::DoNotOptimize(out);
    index = (index + 1) & (kValueCount - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

void RunToCharsBaseline(benchmark::State& state, const std::vector<float>& values) {
  char out[64];
  std::size_t index = 0;
  for (auto _ : state) {
    const auto result = std::to_chars(out, out + sizeof out, static_cast<double>(values[index]),
                                      std::chars_format::scientific, 17);
    benchmark::DoNotOptimize(result.ptr);
    benchmark::DoNotOptimize(out);
    index = (index + 1) & (kValueCount - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

const std::vector<float>& FiniteRandom() {
  static const std::vector<float> values = RandomValues(true);
  return values;
}

const std::vector<float>& AnyRandom() {
  static const std::vector<float> values = RandomValues(false);
  return values;
}

const std::vector<float>& Typical() {
  static const std::vector<float> values = TypicalValues();
  return values;
}

void BM_ToCharsBaseline_RandomFinite(benchmark::State& state) {
  RunToCharsBaseline(state, FiniteRandom());
}
void BM_ToCharsBaseline_Typical(benchmark::State& state) {
  RunToCharsBaseline(state, Typical());
}
void BM_Plain_RandomFinite(benchmark::State& state) {
  RunStyle(state, FiniteRandom(), PlainNumberText);
}
void BM_Plain_RandomAll(benchmark::State& state) {
  RunStyle(state, AnyRandom(), PlainNumberText);
}
void BM_Plain_Typical(benchmark::State& state) {
  RunStyle(state, Typical(), PlainNumberText);
}
void BM_General_RandomFinite(benchmark::State& state) {
  RunStyle(state, FiniteRandom(), GeneralNumberText);
}
void BM_General_RandomAll(benchmark::State& state) {
  RunStyle(state, AnyRandom(), GeneralNumberText);
}
void BM_General_Typical(benchmark::State& state) {
  RunStyle(state, Typical(), GeneralNumberText);
}

BENCHMARK(BM_ToCharsBaseline_RandomFinite);
BENCHMARK(BM_ToCharsBaseline_Typical);
BENCHMARK(BM_Plain_RandomFinite);
BENCHMARK(BM_Plain_RandomAll);
BENCHMARK(BM_Plain_Typical);
BENCHMARK(BM_General_RandomFinite);
BENCHMARK(BM_General_RandomAll);
BENCHMARK(BM_General_Typical);

}  // namespace
