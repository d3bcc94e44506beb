#include <gtest/gtest.h>

#include "platform/linux/LinuxSystemInfo.h"

namespace brisquel::linuxpt {
namespace {

TEST(LinuxSystemName, IsNameReleaseAndArchitectureWord) {
  struct Case {
    const char *machine, *text;
  };
  for (const Case& c :
       {Case{"x86_64", "Linux 6.1.0-18-amd64 x64"}, Case{"i686", "Linux 6.1.0-18-amd64 x32"},
        Case{"i386", "Linux 6.1.0-18-amd64 x32"}, Case{"aarch64", "Linux 6.1.0-18-amd64 aarch64"},
        Case{"ia64", "Linux 6.1.0-18-amd64 ia64"}}) {
    EXPECT_EQ(LinuxSystemName("Linux", "6.1.0-18-amd64", c.machine), c.text) << c.machine;
  }
  const std::string here = LinuxSystemInfo().SystemName();
  EXPECT_TRUE(here.starts_with("Linux ")) << here;
  EXPECT_EQ(std::count(here.begin(), here.end(), ' '), 2) << here;
}

}  // namespace
}  // namespace brisquel::linuxpt
