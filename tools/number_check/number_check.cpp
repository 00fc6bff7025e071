// Exhaustive check of the number text: every float32 bit pattern through both styles and the
// 18 working digits, compared with the slow exact reference. Exit status 0 only without any
// mismatch; 2 for a bad command line.
#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "number_text.h"
#include "reference_number_text.h"

namespace {

constexpr std::uint64_t kBlockSize = 1 << 16;
constexpr std::size_t kMismatchesShown = 10;
// The ',' separator is checked on one pattern in this many.
constexpr std::uint32_t kCommaStride = 16;

struct SweepOptions {
  unsigned threads = 2;
  std::uint64_t first = 0;
  std::uint64_t end = std::uint64_t{1} << 32;  // one past the last pattern
};

struct Mismatch {
  std::uint32_t bits;
  std::string what;
  std::string fast;
  std::string reference;
};

struct SweepState {
  SweepOptions options;
  std::atomic<std::uint64_t> nextBlock{0};
  std::atomic<std::uint64_t> patternsDone{0};
  std::atomic<std::uint64_t> mismatchCount{0};
  std::mutex mismatchLock;
  std::vector<Mismatch> lowestMismatches;  // the lowest bit patterns that failed
};

void RecordMismatch(SweepState& state, Mismatch mismatch) {
  state.mismatchCount.fetch_add(1);
  const std::lock_guard<std::mutex> lock(state.mismatchLock);
  auto& kept = state.lowestMismatches;
  kept.push_back(std::move(mismatch));
  std::sort(kept.begin(), kept.end(),
            [](const Mismatch& a, const Mismatch& b) { return a.bits < b.bits; });
  if (kept.size() > kMismatchesShown) kept.pop_back();
}

void CompareText(SweepState& state, std::uint32_t bits, const char* what, const char* fast,
                 std::size_t fastLength, const char* reference, std::size_t referenceLength) {
  if (fastLength == referenceLength && std::memcmp(fast, reference, fastLength) == 0) return;
  RecordMismatch(
      state, {bits, what, std::string(fast, fastLength), std::string(reference, referenceLength)});
}

std::string WorkingDigitsText(const char* digits, int length, int exponent) {
  return "0." + std::string(digits, static_cast<std::size_t>(length)) + "E" +
         std::to_string(exponent);
}

// The 18 working digits themselves, which the styles show only in part.
void CompareWorkingDigits(SweepState& state, std::uint32_t bits, float value,
                          const ReferenceExpansion& exact) {
  if (exact.kind != ReferenceExpansion::Kind::Finite) return;
  const DecimalDigits fast = ToDecimalDigits(value, 18, kNoDecimalLimit);
  const ReferenceDigits reference = ReferenceRound(exact, 18, kNoDecimalLimit);
  const bool same =
      fast.form == DecimalDigits::Form::Finite && fast.negative == exact.negative &&
      fast.count == reference.length && fast.exponent == reference.exponent &&
      std::memcmp(fast.digits, reference.digits, static_cast<std::size_t>(reference.length)) == 0;
  if (same) return;
  RecordMismatch(state,
                 {bits, "18 digits", WorkingDigitsText(fast.digits, fast.count, fast.exponent),
                  WorkingDigitsText(reference.digits, reference.length, reference.exponent)});
}

void CheckPattern(SweepState& state, std::uint32_t bits) {
  const auto value = std::bit_cast<float>(bits);
  const ReferenceExpansion exact = ReferenceExpand(value);
  char fast[kNumberTextCapacity];
  char reference[64];
  CompareText(state, bits, "plain '.'", fast, PlainNumberText(value, '.', fast), reference,
              ReferencePlainText(exact, '.', reference));
  CompareText(state, bits, "general '.'", fast, GeneralNumberText(value, '.', fast), reference,
              ReferenceGeneralText(exact, '.', reference));
  CompareWorkingDigits(state, bits, value, exact);
  if (bits % kCommaStride == 1) {
    CompareText(state, bits, "plain ','", fast, PlainNumberText(value, ',', fast), reference,
                ReferencePlainText(exact, ',', reference));
    CompareText(state, bits, "general ','", fast, GeneralNumberText(value, ',', fast), reference,
                ReferenceGeneralText(exact, ',', reference));
  }
}

// Takes blocks of patterns until none are left, so threads stay busy to the end.
void SweepWorker(SweepState& state) {
  for (;;) {
    const std::uint64_t begin = state.options.first + state.nextBlock.fetch_add(1) * kBlockSize;
    if (begin >= state.options.end) return;
    const std::uint64_t end = std::min(begin + kBlockSize, state.options.end);
    for (std::uint64_t bits = begin; bits < end; ++bits) {
      CheckPattern(state, static_cast<std::uint32_t>(bits));
    }
    state.patternsDone.fetch_add(end - begin);
  }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void PrintProgress(const SweepState& state, std::uint64_t total, double seconds) {
  const auto done = static_cast<double>(state.patternsDone.load());
  const double left = done > 0 ? seconds * (static_cast<double>(total) - done) / done : 0;
  std::printf("%6.2f%%  %10.0f patterns  %7.0f s  about %6.0f s left  %llu mismatches\n",
              100.0 * done / static_cast<double>(total), done, seconds, left,
              static_cast<unsigned long long>(state.mismatchCount.load()));
  std::fflush(stdout);
}

bool ParseNumber(const char* text, std::uint64_t& value) {
  char* end = nullptr;
  value = std::strtoull(text, &end, 0);
  return end != text && *end == '\0';
}

bool ParseOptions(int argc, char** argv, SweepOptions& options) {
  for (int i = 1; i < argc; ++i) {
    std::uint64_t value = 0;
    if (i + 1 >= argc || !ParseNumber(argv[i + 1], value)) return false;
    const std::string name = argv[i++];
    if (name == "--threads" && value >= 1 && value <= 256) {
      options.threads = static_cast<unsigned>(value);
    } else if (name == "--first" && value < options.end) {
      options.first = value;
    } else if (name == "--end" && value <= (std::uint64_t{1} << 32)) {
      options.end = value;
    } else {
      return false;
    }
  }
  return options.first < options.end;
}

}  // namespace

int main(int argc, char** argv) {
  SweepState state;
  if (!ParseOptions(argc, argv, state.options)) {
    std::fprintf(stderr,
                 "usage: number_check [--threads N] [--first PATTERN] [--end PATTERN]\n"
                 "checks the float32 bit patterns first <= p < end (default: all 2^32)\n");
    return 2;
  }
  const std::uint64_t total = state.options.end - state.options.first;
  std::printf("checking %llu patterns from 0x%llX on %u threads\n",
              static_cast<unsigned long long>(total),
              static_cast<unsigned long long>(state.options.first), state.options.threads);
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < state.options.threads; ++i) {
    workers.emplace_back(SweepWorker, std::ref(state));
  }
  double lastReport = 0;
  while (state.patternsDone.load() < total) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (SecondsSince(start) - lastReport >= 30) {
      lastReport = SecondsSince(start);
      PrintProgress(state, total, lastReport);
    }
  }
  for (std::thread& worker : workers)
    worker.join();
  PrintProgress(state, total, SecondsSince(start));

  const std::uint64_t mismatches = state.mismatchCount.load();
  std::printf("%llu mismatches in %llu patterns, %.0f s\n",
              static_cast<unsigned long long>(mismatches), static_cast<unsigned long long>(total),
              SecondsSince(start));
  for (const Mismatch& mismatch : state.lowestMismatches) {
    std::printf("  0x%08X %-12s fast \"%s\" reference \"%s\"\n", mismatch.bits,
                mismatch.what.c_str(), mismatch.fast.c_str(), mismatch.reference.c_str());
  }
  return mismatches == 0 ? 0 : 1;
}
