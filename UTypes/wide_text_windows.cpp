// Windows only: conversions between the UTF-8 inside and the UTF-16 of the wide calls.
#include "wide_text_windows.h"

#include <algorithm>
#include <limits>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

// The longest full path every call takes without the prefix: a folder's name must leave room
// for an 8.3 file name in it (MAX_PATH less 12).
constexpr std::size_t kLongestPlainPath = MAX_PATH - 12;

constexpr std::wstring_view kLongPathPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongSharePrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";
constexpr std::wstring_view kSharePrefix = L"\\\\";

// The conversion calls count in int; longer texts are cut to what an int counts.
int CountOf(std::size_t size) {
  return static_cast<int>(std::min<std::size_t>(size, std::numeric_limits<int>::max()));
}

// The full form of `path`, empty when the platform cannot make it.
std::wstring FullPath(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return {};
  full.resize(length);
  return full;
}

}  // namespace

std::wstring WideText(std::string_view text) {
  if (text.empty()) return {};
  const int count = CountOf(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), count, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), count, wide.data(), length);
  return wide;
}

std::string Utf8Text(std::wstring_view text) {
  if (text.empty()) return {};
  const int count = CountOf(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), count, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::wstring WidePath(const char* path) {
  std::wstring wide = WideText(path == nullptr ? std::string_view{} : std::string_view(path));
  if (wide.starts_with(kLongPathPrefix) || wide.starts_with(kDevicePrefix)) return wide;
  std::wstring full = FullPath(wide);
  if (full.size() < kLongestPlainPath) return wide;
  // The prefix turns off the platform's own clean-up of the path, which FullPath has done.
  if (full.starts_with(kSharePrefix)) {
    return std::wstring(kLongSharePrefix) + full.substr(kSharePrefix.size());
  }
  return std::wstring(kLongPathPrefix) + full;
}
