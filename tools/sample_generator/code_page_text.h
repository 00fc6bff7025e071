// Text in the game's single-byte Cyrillic code page (Windows-1251), written in the source as UTF-8.
#pragma once

#include <string>
#include <string_view>

// The Windows-1251 bytes of `utf8`: ASCII as it is, the Cyrillic letters А to я (U+0410 to
// U+044F) as 0xC0 to 0xFF, Ё and ё as 0xA8 and 0xB8. Any other character is a fault of the
// sample content and aborts. Allocates the result.
std::string Cp1251FromUtf8(std::string_view utf8);
