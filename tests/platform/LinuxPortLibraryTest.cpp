#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/LinuxPortLibrary.h"

namespace brisquel::linuxpt {
namespace {

namespace fs = std::filesystem;

// A sysfs PCI directory with one full-size and one short configuration file.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("brisquel-pci-" + std::to_string(getpid()));
    Write("0000:00:01.1", 256, {0x86, 0x80, 0x10, 0x70});
    Write("0000:02:1f.7", 64, {0x86, 0x80, 0x22, 0x29});
  }
  void TearDown() override { fs::remove_all(root); }
  void Write(const std::string& function, std::size_t size, std::vector<std::uint8_t> head) {
    fs::create_directories(root / function);
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    std::copy(head.begin(), head.end(), bytes.begin());
    std::ofstream(root / function / "config", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
  }
  fs::path root;
};

TEST_F(FakeSysfs, ReadsPresentRegistersAndAllOnesForAnythingElse) {
  struct Case {
    std::uint32_t address;
    std::uint8_t reg;
    std::uint32_t value;
  };
  for (const Case& c :
       {Case{PciAddress(0, 1, 1), 0x00, 0x70108086}, Case{PciAddress(0, 1, 1), 0x08, 0x0B0A0908},
        Case{PciAddress(0, 1, 1), 0xFC, 0xFFFEFDFC}, Case{PciAddress(2, 31, 7), 0x00, 0x29228086},
        Case{PciAddress(2, 31, 7), 0x3C, 0x3F3E3D3C},
        Case{PciAddress(2, 31, 7), 0x40, 0xFFFFFFFF},  // beyond a short file
        Case{PciAddress(0, 1, 2), 0x00, 0xFFFFFFFF},   // no such function
        Case{PciAddress(0, 1, 1), 0x02, 0xFFFFFFFF},   // unaligned
        Case{0x10000u | PciAddress(0, 1, 1), 0x00, 0xFFFFFFFF}}) {
    EXPECT_EQ(ReadSysfsPciConfigDword(root.string(), c.address, c.reg), c.value)
        << std::hex << c.address << " reg " << int(c.reg);
  }
}

TEST_F(FakeSysfs, AbsentFunctionsAreKnownFromAListingThatIsReadAgainOnceOld) {
  SysfsPciConfig kept(root.string(), std::chrono::hours(1));
  SysfsPciConfig fresh(root.string(), std::chrono::milliseconds(0));
  const std::uint32_t added = PciAddress(0, 3, 0);
  EXPECT_EQ(kept.Read(PciAddress(2, 31, 7), 0x00), 0x29228086u);
  EXPECT_EQ(kept.Read(added, 0x00), 0xFFFFFFFFu);
  EXPECT_EQ(fresh.Read(added, 0x00), 0xFFFFFFFFu);
  Write("0000:00:03.0", 256, {0xEC, 0x10, 0x68, 0x81});
  EXPECT_EQ(kept.Read(added, 0x00), 0xFFFFFFFFu) << "its listing is still young";
  EXPECT_EQ(fresh.Read(added, 0x00), 0x816810ECu);
  EXPECT_EQ(fresh.Read(PciAddress(0, 1, 1), 0x08), 0x0B0A0908u);
}

TEST_F(FakeSysfs, NothingGetsThroughBeforeTheLibraryStarts) {
  LinuxPortLibrary ports({root.string(), "/nonexistent/ioports"});
  EXPECT_EQ(ports.GetDllStatus(), kOlsDriverNotLoaded);
  EXPECT_EQ(ports.ReadPciConfigDword(PciAddress(0, 1, 1), 0), 0xFFFFFFFFu);
  EXPECT_EQ(ports.ReadIoPortByte(0x1F7), 0xFF);
  EXPECT_EQ(ports.ReadIoPortWord(0x1F0), 0xFFFF);
  ports.WriteIoPortByte(0x1F7, 0xEC);  // dropped: must not fault
  ports.WriteIoPortWord(0x1F0, 0x1234);
}

TEST(LinuxPortLibrary, StartReportsItsOutcomeConsistently) {
  // Unprivileged (or on a kernel without port I/O) this fails; as root on a
  // PC it succeeds. Either way the three answers must agree.
  LinuxPortLibrary ports({"/nonexistent/pci", "/nonexistent/ioports"});
  const bool ready = ports.InitializeOls();
  EXPECT_EQ(ready, ports.GetDllStatus() == kOlsOk);
  EXPECT_EQ(ready, ports.FailureReason().empty()) << ports.FailureReason();
  if (!ready) {
    EXPECT_TRUE(ports.GetDllStatus() == kOlsDriverNotLoaded ||
                ports.GetDllStatus() == kOlsUnsupportedPlatform);
    EXPECT_EQ(ports.ReadPciConfigDword(0, 0), 0xFFFFFFFFu);
  }
#if defined(__x86_64__)
  EXPECT_EQ(ports.GetDriverType(), 4);
#endif
  // Ports stay refused when /proc/ioports cannot be read, started or not.
  EXPECT_EQ(ports.ReadIoPortByte(0x80), 0xFF);
}

}  // namespace
}  // namespace brisquel::linuxpt
