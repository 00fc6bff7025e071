// Draws for generated databases: one small deterministic generator and the words of generated
// texts, shared by the property tests' databases and the benchmark's, so that a seed gives the
// same values everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The generator's state (splitmix64): any seed is a good one.
struct Random {
  std::uint64_t state = 0;
};

std::uint64_t NextRandom(Random& random);

// A number from 0 to bound - 1; bound must not be 0.
std::size_t RandomBelow(Random& random, std::size_t bound);

// True with the given chance in percent.
bool RandomChance(Random& random, unsigned percent);

// One of `items`, which must not be empty.
template <typename Item>
const Item& Pick(Random& random, std::span<const Item> items) {
  return items[RandomBelow(random, items.size())];
}

// The words of generated descriptions and briefings.
inline constexpr std::string_view kSentenceWords[] = {
    "the",    "village", "elder", "asks", "you",   "to",     "bring", "back", "a",
    "lost",   "amulet",  "from",  "old",  "ruins", "beyond", "river", "and",  "slay",
    "wolves", "that",    "guard", "it",   "at",    "night",  "under", "moon", "gold"};
