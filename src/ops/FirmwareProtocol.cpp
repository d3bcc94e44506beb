#include "ops/FirmwareProtocol.h"

#include "ops/AtaFirmware.h"

namespace brisquel {

std::unique_ptr<FirmwareProtocol> FirmwareProtocolFor(OperationContext& ops,
                                                      const UpdateRequest& request,
                                                      UpdateReport& report) {
  return MakeAtaFirmware(ops, request, report);
}

}  // namespace brisquel
