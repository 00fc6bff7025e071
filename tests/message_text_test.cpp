// Tests of texts as messages quote them.
#include "message_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Messages quote a text on one line, and only its start when it is long.
TEST(QuotedTextTest, TextsAreQuotedOnOneLineAndCutWhenLong) {
  const struct {
    std::string text;
    std::string quoted;
  } cases[] = {
      {"", "\"\""},
      {"Fireball", "\"Fireball\""},
      {"a\tb\r\nc\\", "\"a\\tb\\r\\nc\\\\\""},
      {std::string("a\0b\x1B\x7F\xC0", 6), "\"a\\x00b\\x1B\\x7F\xC0\""},  // code page bytes stay
      {std::string(60, 'x'), std::string("\"") + std::string(60, 'x') + "\""},
      {std::string(61, 'x'), std::string("\"") + std::string(60, 'x') + "...\" (61 bytes)"},
      {std::string(59, 'x') + "\n\n",
       std::string("\"") + std::string(59, 'x') + "\\n...\" (61 bytes)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(QuotedText(c.text), c.quoted);
}

}  // namespace
