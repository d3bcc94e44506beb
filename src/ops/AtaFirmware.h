// ATA DOWNLOAD MICROCODE behind the update procedure's protocol seam.
#pragma once

#include <memory>

#include "ops/FirmwareProtocol.h"

namespace brisquel {

std::unique_ptr<FirmwareProtocol> MakeAtaFirmware(OperationContext& ops,
                                                  const UpdateRequest& request,
                                                  UpdateReport& report);

}  // namespace brisquel
