// Line alignment: common ends, anchors of lines that occur once on each side, Myers' algorithm
// between the anchors.
#include "line_diff.h"

#include <algorithm>
#include <thread>

namespace {

// The most edits a shortest edit script may take, and the most steps (about a stretch's lines
// times its edits); beyond them a stretch is walked line by line.
constexpr std::size_t kMostEdits = 2000;
constexpr std::ptrdiff_t kMostEditWork = std::ptrdiff_t{1} << 22;
// How far ahead the line-by-line walk looks for the nearest equal lines.
constexpr std::size_t kLookAhead = 32;

// Lines walked step by step between looks at how many of them paired.
constexpr std::size_t kWalkedBeforeGivingUp = 4096;

using Hashes = std::span<const std::uint64_t>;

// A stretch of both sides still to align: [originalStart, originalEnd) and [editedStart,
// editedEnd).
struct Stretch {
  std::size_t originalStart;
  std::size_t originalEnd;
  std::size_t editedStart;
  std::size_t editedEnd;
};

// Pairs the equal lines at the start and at the end of the stretch and narrows it to the rest;
// the pairs at the end are appended to `tail` (in decreasing order).
void PairCommonEnds(Hashes original, Hashes edited, Stretch& stretch,
                    std::vector<LineMatch>& matches, std::vector<LineMatch>& tail) {
  while (stretch.originalStart < stretch.originalEnd && stretch.editedStart < stretch.editedEnd &&
         original[stretch.originalStart] == edited[stretch.editedStart]) {
    matches.push_back({stretch.originalStart++, stretch.editedStart++});
  }
  while (stretch.originalStart < stretch.originalEnd && stretch.editedStart < stretch.editedEnd &&
         original[stretch.originalEnd - 1] == edited[stretch.editedEnd - 1]) {
    tail.push_back({--stretch.originalEnd, --stretch.editedEnd});
  }
}

// A lower bound of the edits between the two sides of the stretch: every line that has no equal
// line on the other side is one.
std::ptrdiff_t FewestEdits(Hashes original, Hashes edited, const Stretch& stretch) {
  std::vector<std::uint64_t> left(original.begin() + static_cast<std::ptrdiff_t>(stretch.originalStart),
                                   original.begin() + static_cast<std::ptrdiff_t>(stretch.originalEnd));
  std::vector<std::uint64_t> right(edited.begin() + static_cast<std::ptrdiff_t>(stretch.editedStart),
                                   edited.begin() + static_cast<std::ptrdiff_t>(stretch.editedEnd));
  std::ranges::sort(left);
  std::ranges::sort(right);
  std::size_t common = 0;
  for (std::size_t a = 0, b = 0; a < left.size() && b < right.size();) {
    if (left[a] < right[b]) {
      ++a;
    } else if (right[b] < left[a]) {
      ++b;
    } else {
      ++common;
      ++a;
      ++b;
    }
  }
  return static_cast<std::ptrdiff_t>(left.size() + right.size() - 2 * common);
}

// The shortest edit script between the two sides of the stretch, as its pairs: the greedy
// forward search of Myers' algorithm, keeping each round's furthest reaches to trace the path
// back. False, pairing nothing, when more than kMostEdits edits would be needed.
bool PairByShortestEdits(Hashes original, Hashes edited, const Stretch& stretch,
                         std::vector<LineMatch>& matches, bool betweenAnchors = false) {
  const auto n = static_cast<std::ptrdiff_t>(stretch.originalEnd - stretch.originalStart);
  const auto m = static_cast<std::ptrdiff_t>(stretch.editedEnd - stretch.editedStart);
  if (n == 0 || m == 0) return true;
  auto same = [&](std::ptrdiff_t x, std::ptrdiff_t y) {
    return original[stretch.originalStart + static_cast<std::size_t>(x)] ==
           edited[stretch.editedStart + static_cast<std::size_t>(y)];
  };
  const auto most = std::min<std::ptrdiff_t>(n + m, kMostEdits);
  // The search costs about (n + m) steps per edit: beyond its budget of work the stretch is
  // walked line by line instead.
  // Between anchors, a long stretch whose lines mostly have no equal on the other side (lines
  // moved far, as in a sorted table) is not worth the search either.
  const std::ptrdiff_t fewest = FewestEdits(original, edited, stretch);
  if (fewest > most || (n + m) * fewest > kMostEditWork) return false;
  if (betweenAnchors && n + m > static_cast<std::ptrdiff_t>(kLookAhead) * 8 && 2 * fewest > n + m) return false;
  // reach[d][k + d]: the furthest x on diagonal k = x - y after d edits.
  std::vector<std::vector<std::ptrdiff_t>> reach;
  for (std::ptrdiff_t d = 0; d <= most; ++d) {
    std::vector<std::ptrdiff_t> current(static_cast<std::size_t>(2 * d + 1));
    const std::vector<std::ptrdiff_t>* previous = reach.empty() ? nullptr : &reach.back();
    for (std::ptrdiff_t k = -d; k <= d; k += 2) {
      auto at = [&](const std::vector<std::ptrdiff_t>& row, std::ptrdiff_t diagonal) {
        return row[static_cast<std::size_t>(diagonal + d - 1)];
      };
      std::ptrdiff_t x = 0;
      if (d > 0) {
        const bool down = k == -d || (k != d && at(*previous, k - 1) < at(*previous, k + 1));
        x = down ? at(*previous, k + 1) : at(*previous, k - 1) + 1;
      }
      std::ptrdiff_t y = x - k;
      while (x < n && y < m && same(x, y)) {
        ++x;
        ++y;
      }
      current[static_cast<std::size_t>(k + d)] = x;
      if (x >= n && y >= m) {
        reach.push_back(std::move(current));
        // Trace back from (n, m), collecting the diagonal runs in reverse.
        std::vector<LineMatch> found;
        std::ptrdiff_t traceX = n;
        std::ptrdiff_t traceY = m;
        for (std::ptrdiff_t step = d; step >= 0; --step) {
          const std::ptrdiff_t diagonal = traceX - traceY;
          std::ptrdiff_t startX = 0;
          if (step > 0) {
            const std::vector<std::ptrdiff_t>& before = reach[static_cast<std::size_t>(step - 1)];
            auto prior = [&](std::ptrdiff_t kk) {
              return before[static_cast<std::size_t>(kk + step - 1)];
            };
            const bool down = diagonal == -step ||
                              (diagonal != step && prior(diagonal - 1) < prior(diagonal + 1));
            const std::ptrdiff_t priorDiagonal = down ? diagonal + 1 : diagonal - 1;
            const std::ptrdiff_t priorX = prior(priorDiagonal);
            startX = down ? priorX : priorX + 1;
            while (traceX > startX) {
              --traceX;
              --traceY;
              found.push_back({stretch.originalStart + static_cast<std::size_t>(traceX),
                               stretch.editedStart + static_cast<std::size_t>(traceY)});
            }
            traceX = priorX;
            traceY = priorX - priorDiagonal;
          } else {
            while (traceX > 0) {
              --traceX;
              --traceY;
              found.push_back({stretch.originalStart + static_cast<std::size_t>(traceX),
                               stretch.editedStart + static_cast<std::size_t>(traceY)});
            }
          }
        }
        matches.insert(matches.end(), found.rbegin(), found.rend());
        return true;
      }
    }
    reach.push_back(std::move(current));
  }
  return false;
}

// Pairs the stretch line by line: equal lines in step; at a line that differs, the nearest
// equal lines ahead, at most kLookAhead lines on, tell whether lines were replaced (both sides
// go on), records deleted (the original goes on) or lines inserted (the edited side goes on);
// with none ahead, the line is taken as replaced.
// With `giveUp`: false, pairing nothing, as soon as fewer than half the lines walked pair (the
// lines moved far rather than changed in place).
bool PairStepByStep(Hashes original, Hashes edited, const Stretch& stretch,
                    std::vector<LineMatch>& matches, bool giveUp = false) {
  const std::size_t firstMatch = matches.size();
  std::size_t at = stretch.originalStart;
  std::size_t line = stretch.editedStart;
  std::size_t nextLook = kWalkedBeforeGivingUp;
  while (at < stretch.originalEnd && line < stretch.editedEnd) {
    const std::size_t walked = line - stretch.editedStart;
    if (giveUp && walked >= nextLook) {
      if (2 * (matches.size() - firstMatch) < walked) {
        matches.resize(firstMatch);
        return false;
      }
      nextLook += kWalkedBeforeGivingUp;
    }
    if (original[at] == edited[line]) {
      matches.push_back({at++, line++});
      continue;
    }
    std::size_t skipOriginal = 1;
    std::size_t skipEdited = 1;
    for (std::size_t ahead = 1; ahead <= kLookAhead; ++ahead) {
      const bool originalHas = at + ahead < stretch.originalEnd;
      const bool editedHas = line + ahead < stretch.editedEnd;
      if (originalHas && editedHas && original[at + ahead] == edited[line + ahead]) {
        skipOriginal = skipEdited = ahead;
        break;
      }
      if (originalHas && original[at + ahead] == edited[line]) {
        skipOriginal = ahead;
        skipEdited = 0;
        break;
      }
      if (editedHas && original[at] == edited[line + ahead]) {
        skipOriginal = 0;
        skipEdited = ahead;
        break;
      }
    }
    at += skipOriginal;
    line += skipEdited;
  }
  return true;
}

// A line of one side with its hash, for finding the lines that occur once.
struct HashedLine {
  std::uint64_t hash;
  std::size_t index;
};

// The lines of [start, end) that occur there once, sorted by hash.
std::vector<HashedLine> UniqueLines(Hashes lines, std::size_t start, std::size_t end) {
  std::vector<HashedLine> sorted;
  sorted.reserve(end - start);
  for (std::size_t index = start; index < end; ++index)
    sorted.push_back({lines[index], index});
  std::ranges::sort(sorted, [](const HashedLine& a, const HashedLine& b) {
    return a.hash < b.hash || (a.hash == b.hash && a.index < b.index);
  });
  std::vector<HashedLine> unique;
  for (std::size_t at = 0; at < sorted.size();) {
    std::size_t next = at + 1;
    while (next < sorted.size() && sorted[next].hash == sorted[at].hash)
      ++next;
    if (next == at + 1) unique.push_back(sorted[at]);
    at = next;
  }
  return unique;
}

// Pairs of lines that occur once on each side of the stretch, in their longest run that
// increases on both sides (patience sorting).
std::vector<LineMatch> Anchors(Hashes original, Hashes edited, const Stretch& stretch,
                               std::size_t& uniquePairs) {
  // Each side's on a core of its own.
  std::vector<HashedLine> left;
  std::thread leftSide(
      [&] { left = UniqueLines(original, stretch.originalStart, stretch.originalEnd); });
  const std::vector<HashedLine> right = UniqueLines(edited, stretch.editedStart, stretch.editedEnd);
  leftSide.join();
  std::vector<LineMatch> candidates;
  for (std::size_t a = 0, b = 0; a < left.size() && b < right.size();) {
    if (left[a].hash < right[b].hash) {
      ++a;
    } else if (right[b].hash < left[a].hash) {
      ++b;
    } else {
      candidates.push_back({left[a++].index, right[b++].index});
    }
  }
  uniquePairs = candidates.size();
  std::ranges::sort(candidates, {}, &LineMatch::original);
  // Longest increasing run of the edited indices: tails[k] ends the best run of length k + 1.
  std::vector<std::size_t> tails;
  std::vector<std::size_t> before(candidates.size());
  for (std::size_t at = 0; at < candidates.size(); ++at) {
    const auto place = std::ranges::lower_bound(
        tails, candidates[at].edited, {}, [&](std::size_t c) { return candidates[c].edited; });
    const auto length = static_cast<std::size_t>(place - tails.begin());
    before[at] = length == 0 ? at : tails[length - 1];
    if (place == tails.end()) {
      tails.push_back(at);
    } else {
      *place = at;
    }
  }
  std::vector<LineMatch> run;
  if (tails.empty()) return run;
  for (std::size_t at = tails.back();; at = before[at]) {
    run.push_back(candidates[at]);
    if (before[at] == at) break;
  }
  std::ranges::reverse(run);
  return run;
}

}  // namespace

std::vector<LineMatch> AlignLines(Hashes original, Hashes edited) {
  std::vector<LineMatch> matches;
  std::vector<LineMatch> tail;
  Stretch whole{0, original.size(), 0, edited.size()};
  PairCommonEnds(original, edited, whole, matches, tail);
  // Too many edits for the shortest script: lines changed in place pair walked step by step;
  // where they moved far (a sorted table), lines that occur once on each side anchor the
  // alignment, and the stretches between them get their own scripts.
  if (!PairByShortestEdits(original, edited, whole, matches) &&
      !PairStepByStep(original, edited, whole, matches, true)) {
    std::size_t originalAt = whole.originalStart;
    std::size_t editedAt = whole.editedStart;
    auto pairUpTo = [&](std::size_t originalEnd, std::size_t editedEnd) {
      Stretch gap{originalAt, originalEnd, editedAt, editedEnd};
      std::vector<LineMatch> gapTail;
      PairCommonEnds(original, edited, gap, matches, gapTail);
      if (!PairByShortestEdits(original, edited, gap, matches, true)) {
        PairStepByStep(original, edited, gap, matches);
      }
      matches.insert(matches.end(), gapTail.rbegin(), gapTail.rend());
    };
    std::size_t uniquePairs = 0;
    const std::vector<LineMatch> anchors = Anchors(original, edited, whole, uniquePairs);
    // Most lines occur once, but few of them in order: the table was reordered (sorted), and
    // the stretches between anchors hold lines that moved far, which no script pairs.
    const std::size_t lines = whole.editedEnd - whole.editedStart;
    const bool reordered = 2 * uniquePairs >= lines && 8 * anchors.size() < uniquePairs;
    for (const LineMatch& anchor : anchors) {
      if (!reordered) pairUpTo(anchor.original, anchor.edited);
      matches.push_back(anchor);
      originalAt = anchor.original + 1;
      editedAt = anchor.edited + 1;
    }
    if (!reordered) pairUpTo(whole.originalEnd, whole.editedEnd);
  }
  matches.insert(matches.end(), tail.rbegin(), tail.rend());
  return matches;
}
