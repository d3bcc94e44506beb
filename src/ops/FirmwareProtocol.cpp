#include "ops/FirmwareProtocol.h"

#include "ops/AtaFirmware.h"
#include "ops/NvmeFirmware.h"

namespace brisquel {

std::unique_ptr<FirmwareProtocol> FirmwareProtocolFor(OperationContext& ops,
                                                      const UpdateRequest& request,
                                                      UpdateReport& report) {
  if (ops.transport.state.DriveTarget.kind == TransportKind::nvme) {
    return MakeNvmeFirmware(ops, request, report);
  }
  return MakeAtaFirmware(ops, request, report);
}

}  // namespace brisquel
