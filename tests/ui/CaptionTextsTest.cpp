#include <gtest/gtest.h>

#include "ui/CaptionTexts.h"

namespace brisquel {
namespace {

TEST(CaptionTexts, LibraryStatusAndDriverTypeNameKnownCodesAndRenderTheRest) {
  struct Case {
    std::int32_t code;
    const char* status;
    const char* driver;
  };
  for (const Case& c : {
           Case{0, "OK", "Unknown Type (Error)"},
           Case{1, "Unsupported Platform", "Windows 9x"},
           Case{2, "Driver not loaded", "Windows NT4/2000/XP/Vista or later [x86]"},
           Case{3, "Driver not found", "Windows NT4 [x86] (Not supported Kernel mode SEH)"},
           Case{4, "Driver unloaded by other process", "Windows XP/Vista or later [x64]"},
           Case{5, "Driver not loaded because of executing on Network Drive (1.0.8 or later)",
                "Reserved for IA64"},
           Case{6, "Unknown error 6", "Unknown Type (Error)"},
           Case{9, "Unknown error 9", "Unknown Type (Error)"},
           Case{-1, "Unknown error 4294967295", "Unknown Type (Error)"},
           Case{INT32_MIN, "Unknown error 2147483648", "Unknown Type (Error)"},
       }) {
    EXPECT_EQ(DllStatusText(c.code), c.status) << c.code;
    EXPECT_EQ(DriverTypeText(c.code), c.driver) << c.code;
  }
}

TEST(CaptionTexts, DiagnosticCaptionJoinsThePiecesWithTheirOwnSeparators) {
  EXPECT_EQ(DiagnosticCaption(true, 0, 4), "OLS:True  DLL:OK  DRV:Windows XP/Vista or later [x64]");
  EXPECT_EQ(DiagnosticCaption(false, 3, 0),
            "OLS:False  DLL:Driver not found  DRV:Unknown Type (Error)");
  EXPECT_EQ(NormalCaption("Linux 6.1.0 x64", true), "Brisquel - Linux 6.1.0 x64");
  EXPECT_EQ(NormalCaption("Linux 6.1.0 x64", false),
            "Brisquel - Linux 6.1.0 x64 (without administrator rights)");
}

}  // namespace
}  // namespace brisquel
