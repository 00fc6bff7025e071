// What a console that shows Unicode is given for a message: its text in UTF-16.
#pragma once

#include <string>
#include <string_view>

#include "code_page.h"

// The UTF-16 of a message's bytes for a console that takes Unicode text (Windows' wide console
// output), whatever the console's own code page:
// - UTF-8 as its characters;
// - a marked game text (MarkedGameText) as the characters of its bytes in `page`, a byte that
//   CharacterOfByte leaves undefined as its private-use stand-in; the marks and the escapes before
//   a mark's byte dropped, a text whose end mark is missing ending with the message;
// - outside a game text, a byte that begins no well-formed UTF-8 sequence as its character in
//   `page` too: a game text that reached the message unmarked (where a standard stream is
//   redirected, nothing is marked), since every other text of a message is well-formed UTF-8 on
//   Windows, made from the platform's UTF-16.
// Characters beyond U+FFFF become surrogate pairs; line ends and every other byte stay as they are.
std::u16string ConsoleTextOf(std::string_view message, const CodePage& page);
