// The port driver library bound at run time: the project's double (backed by
// the default bench) behind the real LoadLibraryA and GetProcAddress, and the
// "not ready" library when the DLL or an entry point is missing.
#include <gtest/gtest.h>

#include <string>

#include "hw/uWinRing0.h"
#include "platform/windows/WinPortLibrary.h"
#include "ui/CaptionTexts.h"

namespace brisquel::winpt {
namespace {

// The double's path as Wine sees the Unix file system.
const std::string kDouble = std::string("Z:") + BRISQUEL_PORT_LIBRARY_DOUBLE;

TEST(WinPortLibrary, MissingLibraryOrEntryPointIsNotReadyAndFloats) {
  // kernel32 loads but exports none of the eight functions.
  for (const char* name : {"no-such-port-library.dll", "kernel32.dll"}) {
    SCOPED_TRACE(name);
    WinPortLibrary ports(name);
    EXPECT_FALSE(ports.Loaded());
    EXPECT_FALSE(ports.InitializeOls());
    EXPECT_EQ(DiagnosticCaption(false, ports.GetDllStatus(), ports.GetDriverType()),
              "OLS:False  DLL:Driver not loaded  DRV:Unknown Type (Error)");
    EXPECT_EQ(ReadPciConfig(ports, 0, 0x1F, 1, 0x00), 0xFFFFFFFFu);
    ports.WriteIoPortByte(0x1F6, 0xA0);
    ports.WriteIoPortWord(0x1F0, 0x1234);
    EXPECT_EQ(ports.ReadIoPortByte(0x1F7), 0xFF);
    EXPECT_EQ(ports.ReadIoPortWord(0x1F0), 0xFFFF);
  }
}

TEST(WinPortLibrary, TheDoubleAnswersWithTheBenchOnceInitialised) {
  WinPortLibrary ports(kDouble.c_str());
  ASSERT_TRUE(ports.Loaded());
  // Nothing reaches the driver before it has started.
  EXPECT_EQ(ports.ReadPciConfigDword(PciAddress(0, 0x1F, 1), 0x00), 0xFFFFFFFFu);
  EXPECT_EQ(ports.ReadIoPortByte(0x1F7), 0xFF);

  ASSERT_TRUE(ports.InitializeOls());
  EXPECT_EQ(DiagnosticCaption(true, ports.GetDllStatus(), ports.GetDriverType()),
            "OLS:True  DLL:OK  DRV:Windows XP/Vista or later [x64]");
  // The default bench's ICH7 IDE function at 00:1F.1, and its class register.
  EXPECT_EQ(ReadPciConfig(ports, 0, 0x1F, 1, 0x00), 0x27DF8086u);
  EXPECT_EQ(ReadPciConfig(ports, 0, 0x1F, 1, 0x08) >> 8, 0x01018Au);
  EXPECT_EQ(ReadPciConfig(ports, 0, 0x1E, 7, 0x00), 0xFFFFFFFFu);
  // The drive on the primary channel: device 0 selected, ready and seeking done.
  ports.WriteIoPortByte(0x1F6, 0xA0);
  EXPECT_EQ(ports.ReadIoPortByte(0x1F7) & 0xD0, 0x50);
}

}  // namespace
}  // namespace brisquel::winpt
