// The driver library's operations on Windows: the port driver DLL, loaded at
// run time by name. A missing DLL or entry point leaves the library not ready
// (the program still starts, and API mode needs no driver): configuration
// reads then give 0xFFFFFFFF, port reads float and port writes are dropped.
#pragma once

#include <cstdint>
#include <memory>

#include "hw/uWinRing0.h"

namespace brisquel::winpt {

// The DLL that fits a 64-bit process.
inline constexpr const char* kPortLibraryName = "WinRing0x64.dll";

// What GetDllStatus and GetDriverType answer when the DLL or one of its entry
// points is missing: "Driver not loaded", "Unknown Type (Error)".
inline constexpr std::int32_t kOlsDriverNotLoaded = 2;
inline constexpr std::int32_t kDriverTypeUnknown = 0;

class WinPortLibrary : public PortLibrary {
 public:
  // Loads the DLL and resolves its eight entry points; it stays loaded for
  // the life of the process.
  explicit WinPortLibrary(const char* dllName = kPortLibraryName);
  ~WinPortLibrary() override;
  WinPortLibrary(const WinPortLibrary&) = delete;
  WinPortLibrary& operator=(const WinPortLibrary&) = delete;

  // The DLL and all eight entry points were found.
  bool Loaded() const { return entries_ != nullptr; }

  bool InitializeOls() override;
  std::int32_t GetDllStatus() override;
  std::int32_t GetDriverType() override;
  // Until InitializeOls has succeeded: reads float, writes are dropped.
  std::uint8_t ReadIoPortByte(std::uint16_t port) override;
  std::uint16_t ReadIoPortWord(std::uint16_t port) override;
  void WriteIoPortByte(std::uint16_t port, std::uint8_t value) override;
  void WriteIoPortWord(std::uint16_t port, std::uint16_t value) override;
  std::uint32_t ReadPciConfigDword(std::uint32_t pciAddress, std::uint8_t regAddress) override;

  struct Entries;

 private:
  std::unique_ptr<const Entries> entries_;
  bool ready_ = false;
};

}  // namespace brisquel::winpt
