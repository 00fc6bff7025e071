// The generator of generated databases: splitmix64, whose every seed starts a good sequence.
#include "random_draws.h"

std::uint64_t NextRandom(Random& random) {
  std::uint64_t z = (random.state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::size_t RandomBelow(Random& random, std::size_t bound) {
  return static_cast<std::size_t>(NextRandom(random) % bound);
}

bool RandomChance(Random& random, unsigned percent) {
  return RandomBelow(random, 100) < percent;
}
