// Replays corpus files through a fuzz target without the fuzzer: every file under the folders
// given, in name order. Exit status 0 when all ran (a broken invariant aborts), 1 when none did.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> FilesUnder(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int index = 1; index < argc; ++index) {
    for (const std::filesystem::path& file : FilesUnder(argv[index])) {
      std::fprintf(stderr, "replaying %s\n", file.c_str());
      const std::vector<std::uint8_t> bytes = ReadFileBytes(file);
      // The fuzzer never hands over a null pointer, not even for an empty input.
      const std::uint8_t none = 0;
      LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
