#include <gtest/gtest.h>

#include "transport/Win32Messages.h"

namespace brisquel {
namespace {

TEST(Win32MessageText, GivesTheSystemTextsWithTheirLineEnd) {
  struct Case {
    std::uint32_t code;
    const char* text;
  };
  for (const Case& c :
       {Case{1, "Incorrect function.\r\n"}, Case{6, "The handle is invalid.\r\n"},
        Case{50, "The request is not supported.\r\n"}, Case{87, "The parameter is incorrect.\r\n"},
        Case{121, "The semaphore timeout period has expired.\r\n"},
        Case{1117,
             "The request could not be performed because of an I/O device "
             "error.\r\n"},
        Case{1167, "The device is not connected.\r\n"}, Case{4242, ""}}) {
    EXPECT_EQ(Win32MessageText(c.code), c.text) << c.code;
  }
}

}  // namespace
}  // namespace brisquel
