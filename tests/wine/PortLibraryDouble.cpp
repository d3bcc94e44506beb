// A stand-in for the port driver library, for tests under Wine: the same eight
// exports, answered by the simulated bench's port and PCI buses, so that the
// program's run-time binding and its whole PIO path run as they would on a
// machine with the driver. BRISQUEL_PORTS_BENCH names a bench file; without it
// the default bench answers. Never shipped.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "sim/Bench.h"

namespace {

using brisquel::sim::Bench;

std::unique_ptr<Bench> LoadBench() {
  const char* file = std::getenv("BRISQUEL_PORTS_BENCH");
  if (!file || !*file) return Bench::Default();
  brisquel::sim::BenchLoad load = Bench::FromFile(file);
  if (load.bench) return std::move(load.bench);
  // A bench that cannot be read is a driver that cannot start.
  std::fprintf(stderr, "port library double: %s\n", load.error.c_str());
  auto empty = std::make_unique<Bench>();
  empty->Ports().Library() = {.ready = false, .dllStatus = 3, .driverType = 0};
  return empty;
}

brisquel::sim::PortBus& Ports() {
  static const std::unique_ptr<Bench> bench = LoadBench();
  return bench->Ports();
}

}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI InitializeOls() {
  return Ports().InitializeOls() ? TRUE : FALSE;
}
__declspec(dllexport) DWORD WINAPI GetDllStatus() {
  return static_cast<DWORD>(Ports().GetDllStatus());
}
__declspec(dllexport) DWORD WINAPI GetDriverType() {
  return static_cast<DWORD>(Ports().GetDriverType());
}
__declspec(dllexport) BYTE WINAPI ReadIoPortByte(WORD port) {
  return Ports().ReadIoPortByte(port);
}
__declspec(dllexport) WORD WINAPI ReadIoPortWord(WORD port) {
  return Ports().ReadIoPortWord(port);
}
__declspec(dllexport) VOID WINAPI WriteIoPortByte(WORD port, BYTE value) {
  Ports().WriteIoPortByte(port, value);
}
__declspec(dllexport) VOID WINAPI WriteIoPortWord(WORD port, WORD value) {
  Ports().WriteIoPortWord(port, value);
}
__declspec(dllexport) DWORD WINAPI ReadPciConfigDword(DWORD pciAddress, BYTE regAddress) {
  return Ports().ReadPciConfigDword(pciAddress, regAddress);
}

}  // extern "C"
