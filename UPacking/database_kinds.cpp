// Telling the formats of databases apart.
#include "database_kinds.h"

#include <algorithm>

const UnpackerFormat* FormatOfOutline(const DatabaseOutline& outline,
                                      std::span<const UnpackerFormat* const> formats) {
  const auto fits = [&](const UnpackerFormat* format) { return format->fitsOutline(outline); };
  if (std::ranges::count_if(formats, fits) != 1) return nullptr;
  return *std::ranges::find_if(formats, fits);
}
