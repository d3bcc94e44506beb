#include "transport/FirmwareCalls.h"

#include "transport/CommandObserver.h"
#include "transport/DeviceCall.h"

namespace brisquel {
namespace {

template <typename Answer, typename Call>
Answer Observed(TransportContext& t, const FirmwareCall& call, Call&& make,
                std::uint32_t (*errorOf)(const Answer&)) {
  if (t.observer) t.observer->FirmwareCallStarting(t.state.DriveTarget, call);
  const auto start = std::chrono::steady_clock::now();
  const Answer answer = CallDevice<Answer>(t, make);
  const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now() - start);
  if (t.observer) t.observer->FirmwareCallEnded(t.state.DriveTarget, call, {errorOf(answer), elapsed});
  return answer;
}

std::uint32_t Itself(const std::uint32_t& error) {
  return error;
}

std::uint32_t InfoError(const FirmwareInterfaceInfo& info) {
  return info.systemError;
}

}  // namespace

FirmwareInterfaceInfo QueryFirmwareInterface(TransportContext& t, OsHandle handle) {
  // A system without the interface is not asked, and nothing is shown.
  if (!t.io.HasFirmwareInterface()) return {};
  FirmwareCall call;
  return Observed<FirmwareInterfaceInfo>(
      t, call, [&] { return t.io.FirmwareInterface(handle); }, InfoError);
}

std::uint32_t SendFirmwarePiece(TransportContext& t, const FirmwarePieceRequest& piece) {
  FirmwareCall call{FirmwareCall::Kind::download, piece.slot, piece.offset,
                    static_cast<std::uint32_t>(piece.bytes.size()), piece.first, piece.last};
  const OsHandle handle = t.state.DriveTarget.ataPassHandle;
  return Observed<std::uint32_t>(
      t, call, [&] { return t.io.FirmwareDownload(handle, piece); }, Itself);
}

std::uint32_t ActivateFirmware(TransportContext& t, std::uint8_t slot, bool switchToExisting) {
  FirmwareCall call{FirmwareCall::Kind::activate, slot, 0, 0, false, false};
  const OsHandle handle = t.state.DriveTarget.ataPassHandle;
  return Observed<std::uint32_t>(
      t, call, [&] { return t.io.FirmwareActivate(handle, slot, switchToExisting); }, Itself);
}

}  // namespace brisquel
