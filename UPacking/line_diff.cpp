// Line alignment: common ends, then a shortest edit script (Myers' algorithm) while it takes
// few edits, else a walk line by line that looks a few lines ahead and leaves lines that moved far
// to pairing by their hashes.
#include "line_diff.h"

#include <algorithm>

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
  std::vector<std::uint64_t> left(
      original.begin() + static_cast<std::ptrdiff_t>(stretch.originalStart),
      original.begin() + static_cast<std::ptrdiff_t>(stretch.originalEnd));
  std::vector<std::uint64_t> right(
      edited.begin() + static_cast<std::ptrdiff_t>(stretch.editedStart),
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
                         std::vector<LineMatch>& matches) {
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

}  // namespace

std::vector<LineMatch> AlignLines(Hashes original, Hashes edited) {
  std::vector<LineMatch> matches;
  std::vector<LineMatch> tail;
  Stretch whole{0, original.size(), 0, edited.size()};
  PairCommonEnds(original, edited, whole, matches, tail);
  // Too many edits for the shortest script: lines changed in place pair walked step by step.
  // Where fewer than half pair, the lines moved far (a sorted table): they are left to pairing
  // by their hashes, which does not need them in order.
  if (!PairByShortestEdits(original, edited, whole, matches)) {
    PairStepByStep(original, edited, whole, matches, true);
  }
  matches.insert(matches.end(), tail.rbegin(), tail.rend());
  return matches;
}
