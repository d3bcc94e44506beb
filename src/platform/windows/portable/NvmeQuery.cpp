#include "platform/windows/portable/NvmeQuery.h"

#include <algorithm>
#include <cstring>

#include "transport/DeviceIo.h"
#include "transport/NvmeProtocol.h"

namespace brisquel::winpt {

std::optional<std::vector<std::uint8_t>> NvmeQueryBytes(const NvmeAdminRequest& request) {
  if (request.direction != DataDirection::in || request.data.empty()) return std::nullopt;
  ProtocolPropertyQuery query{};
  query.queryType = kPropertyStandardQuery;
  ProtocolSpecificData& p = query.protocol;
  p.protocolType = kProtocolTypeNvme;
  p.dataOffset = sizeof(ProtocolSpecificData);
  p.dataLength = static_cast<std::uint32_t>(request.data.size());
  const std::uint32_t cdw10 = request.cdw[0];
  if (request.opcode == kNvmeIdentify) {
    const std::uint32_t cns = cdw10 & 0xFF;
    // The controller's structure is the adapter's; the rest name a namespace.
    query.propertyId = cns == kNvmeCnsController ? kAdapterProtocolSpecificProperty
                                                 : kDeviceProtocolSpecificProperty;
    p.dataType = kNvmeDataTypeIdentify;
    p.requestValue = cns;
    p.requestSubValue = request.nsid;
  } else if (request.opcode == kNvmeGetLogPage) {
    // CDW10: LID 7:0, LSP 11:8, RAE 15, NUMDL 31:16; CDW11: NUMDU 15:0, LSI
    // 31:16; CDW12 and CDW13 the offset. The stack reads the length from the
    // record, so it must be the command's.
    const std::uint64_t dwords = ((request.cdw[1] & 0xFFFFu) << 16 | cdw10 >> 16) + 1ull;
    if (dwords * 4 != request.data.size()) return std::nullopt;
    query.propertyId = kDeviceProtocolSpecificProperty;
    p.dataType = kNvmeDataTypeLogPage;
    p.requestValue = cdw10 & 0xFF;
    p.requestSubValue = request.cdw[2];
    p.requestSubValue2 = request.cdw[3];
    p.requestSubValue3 = request.cdw[1] >> 16;
    p.requestSubValue4 = (cdw10 >> 15 & 1) | ((cdw10 >> 8 & 0xF) << 1);
  } else {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(kProtocolDataStart + request.data.size());
  std::memcpy(bytes.data(), &query, sizeof query);
  return bytes;
}

std::optional<NvmeQueryAnswer> ReadNvmeQueryAnswer(std::span<const std::uint8_t> answer) {
  if (answer.size() < sizeof(ProtocolDataDescriptor)) return std::nullopt;
  ProtocolDataDescriptor d;
  std::memcpy(&d, answer.data(), sizeof d);
  if (d.version != sizeof d || d.size != sizeof d) return std::nullopt;
  const std::size_t protocolStart = offsetof(ProtocolDataDescriptor, protocol);
  const std::uint64_t end = std::uint64_t{protocolStart} + d.protocol.dataOffset + d.protocol.dataLength;
  if (d.protocol.dataOffset < sizeof(ProtocolSpecificData) || end > answer.size()) {
    return std::nullopt;
  }
  return NvmeQueryAnswer{answer.subspan(protocolStart + d.protocol.dataOffset, d.protocol.dataLength),
                         d.protocol.fixedReturnData};
}

NvmeAdminAnswer NvmeAdminThroughQuery(IoControl& io, OsHandle handle, const NvmeAdminRequest& request) {
  std::optional<std::vector<std::uint8_t>> block = NvmeQueryBytes(request);
  if (!block) return RefusedAnswer<NvmeAdminAnswer>(win32::ERROR_NOT_SUPPORTED_);
  const auto size = static_cast<std::uint32_t>(block->size());
  std::uint32_t returned = 0;
  if (!io.DeviceIoControl(handle, kIoctlStorageQueryProperty, block->data(), size, block->data(),
                          size, &returned)) {
    return RefusedAnswer<NvmeAdminAnswer>(io.GetLastError());
  }
  const auto read = ReadNvmeQueryAnswer(std::span(*block).first(std::min(returned, size)));
  if (!read) return RefusedAnswer<NvmeAdminAnswer>(win32::ERROR_GEN_FAILURE_);  // makes no sense
  const std::size_t moved = std::min(read->data.size(), request.data.size());
  std::copy_n(read->data.begin(), moved, request.data.begin());
  std::fill(request.data.begin() + static_cast<std::ptrdiff_t>(moved), request.data.end(),
            std::uint8_t{0});
  NvmeAdminAnswer answer;
  answer.result = read->fixedReturnData;
  answer.bytesMoved = static_cast<std::uint32_t>(moved);
  return answer;
}

}  // namespace brisquel::winpt
