#include <gtest/gtest.h>

#include "platform/windows/portable/WindowsVersion.h"

namespace brisquel::winpt {
namespace {

TEST(WindowsVersion, WindowsVersionNameTakesTheFirstMatchingRowOrKeepsWindows) {
  struct Case {
    std::uint32_t platformId, major, minor, buildValue, productType;
    bool wow64;
    const char* name;
  };
  for (const Case& c : {
           Case{0, 3, 1, 0, 1, false, "Win32s x32"},
           Case{1, 4, 0, 950, 1, false, "Windows 95 x32"},
           Case{1, 4, 3, 950, 2, false, "Windows 95 x32"},
           Case{1, 4, 10, 1998, 1, false, "Windows 98 x32"},
           Case{1, 4, 10, 1999, 1, false, "Windows x32"},  // neither 98's build nor Me's minor
           Case{1, 4, 0, 951, 1, false, "Windows x32"},
           Case{1, 4, 90, 3000, 1, false, "Windows Me x32"},
           Case{1, 7, 90, 0, 1, false, "Windows Me x32"},
           Case{2, 3, 51, 1057, 1, false, "Windows NT 3.51 x32"},
           Case{2, 4, 0, 1381, 3, false, "Windows NT 4.0 x32"},
           Case{2, 5, 0, 2195, 1, false, "Windows 2000 x32"},
           Case{2, 5, 1, 2600, 1, true, "Windows XP x64"},
           Case{2, 5, 2, 3790, 1, true, "Windows Server 2003 x64"},
           Case{2, 6, 0, 6002, 1, false, "Windows Vista x32"},
           Case{2, 6, 0, 6002, 3, false, "Windows Server 2008 x32"},
           Case{2, 6, 1, 7601, 1, true, "Windows 7 x64"},
           Case{2, 6, 1, 7601, 2, true, "Windows Server 2008 R2 x64"},
           Case{2, 6, 2, 9200, 1, true, "Windows 8 x64"},
           Case{2, 6, 2, 9200, 3, true, "Windows Server 2012 x64"},
           Case{2, 6, 3, 9600, 1, true, "Windows 8.1 x64"},
           Case{2, 6, 3, 9600, 3, true, "Windows Server 2012 R2 x64"},
           Case{2, 10, 0, 19045, 1, true, "Windows 10 x64"},
           Case{2, 10, 0, 22631, 1, true, "Windows 10 x64"},
           Case{2, 10, 0, 26100, 3, true, "Windows Server 2016 x64"},
           Case{2, 5, 3, 0, 1, true, "Windows x64"},
           Case{2, 6, 4, 0, 1, true, "Windows x64"},
           Case{2, 10, 1, 0, 1, false, "Windows x32"},
           Case{3, 10, 0, 0, 1, true, "Windows x64"},
       }) {
    WindowsVersionData v;
    v.platformId = c.platformId;
    v.major = c.major;
    v.minor = c.minor;
    v.buildValue = c.buildValue;
    v.productType = c.productType;
    v.wow64 = c.wow64;
    EXPECT_EQ(WindowsVersionName(v), c.name)
        << c.platformId << " " << c.major << "." << c.minor << " build " << c.buildValue << " type "
        << c.productType;
  }
}

}  // namespace
}  // namespace brisquel::winpt
