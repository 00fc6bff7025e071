// Temporary folders and whole-file reads and writes for the tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

// A fresh folder under the system's temporary folder, removed with everything in it.
struct TempFolder {
  std::filesystem::path path;

  TempFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "unpacker-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create " << pattern;
    path = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    // Read-only folders made by a test would keep their content: open them up first.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string operator/(std::string_view name) const { return (path / name).string(); }
};

// The whole file, or an empty string when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::ifstream in(path, std::ios::binary);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return in ? bytes : std::string{};
}

inline void WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
