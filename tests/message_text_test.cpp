// Tests of texts as messages quote them.
#include "message_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Messages quote a text on one line, and only its start when it is long; a record's name is
// shown the same way without the quotes and the length.
TEST(QuotedTextTest, TextsAreQuotedOnOneLineAndCutWhenLong) {
  const struct {
    std::string text;
    std::string quoted;
    std::string shown;
  } cases[] = {
      {"", "\"\"", ""},
      {"Fireball", "\"Fireball\"", "Fireball"},
      {"a\tb\r\nc\\", "\"a\\tb\\r\\nc\\\\\"", "a\\tb\\r\\nc\\\\"},
      // Code page bytes stay.
      {std::string("a\0b\x1B\x7F\xC0", 6), "\"a\\x00b\\x1B\\x7F\xC0\"", "a\\x00b\\x1B\\x7F\xC0"},
      {std::string(60, 'x'), std::string("\"") + std::string(60, 'x') + "\"", std::string(60, 'x')},
      {std::string(61, 'x'), std::string("\"") + std::string(60, 'x') + "...\" (61 bytes)",
       std::string(60, 'x') + "..."},
      {std::string(59, 'x') + "\n\n",
       std::string("\"") + std::string(59, 'x') + "\\n...\" (61 bytes)",
       std::string(59, 'x') + "\\n..."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuotedText(c.text), c.quoted);
    EXPECT_EQ(ShownText(c.text), c.shown);
  }
}

}  // namespace
