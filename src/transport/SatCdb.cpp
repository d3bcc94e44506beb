#include "transport/SatCdb.h"

namespace brisquel {

SatCdb BuildSatCdb(SatForm form, const AtaTaskFile& regs, const SatFields& fields) {
  SatCdb cdb;
  auto& b = cdb.bytes;
  const auto protocol = static_cast<std::uint8_t>(static_cast<std::uint8_t>(fields.protocol) << 1);
  if (form == SatForm::x85) {
    const bool extend = fields.extend;
    const auto hob = [extend](std::uint8_t value) { return extend ? value : std::uint8_t{0}; };
    b = {kAtaPassThrough16, static_cast<std::uint8_t>(protocol | (extend ? kSatExtend : 0)),
         fields.transfer,   hob(regs.featuresPrev),
         regs.features,     hob(regs.countPrev),
         regs.count,        hob(regs.lbaLowPrev),
         regs.lbaLow,       hob(regs.lbaMidPrev),
         regs.lbaMid,       hob(regs.lbaHighPrev),
         regs.lbaHigh,      regs.device,
         regs.command,      0};
    cdb.length = 16;
  } else {
    b = {kAtaPassThrough12, protocol,    fields.transfer, regs.features, regs.count,
         regs.lbaLow,       regs.lbaMid, regs.lbaHigh,    regs.device,   regs.command};
    cdb.length = form == SatForm::a1Ten ? 10 : 12;
  }
  return cdb;
}

}  // namespace brisquel
