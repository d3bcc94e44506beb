#include "platform/windows/portable/NvmeQueryStandIn.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "transport/NvmeProtocol.h"

namespace brisquel::winpt {

std::uint32_t AnswerNvmeQuery(DeviceIo& controller, OsHandle handle, std::span<const std::uint8_t> in,
                              std::span<std::uint8_t> out, std::uint32_t* returned, std::string* call) {
  if (returned) *returned = 0;
  if (call) *call = "QUERY";
  constexpr std::uint32_t kErrorBadLength = 24;
  if (in.size() < sizeof(ProtocolPropertyQuery)) return kErrorBadLength;
  ProtocolPropertyQuery q;
  std::memcpy(&q, in.data(), sizeof q);
  const ProtocolSpecificData p = q.protocol;
  const bool identify = p.dataType == kNvmeDataTypeIdentify;
  if (call) {
    *call = std::string("QUERY ") + (identify ? "identify " : "log ") + std::to_string(p.requestValue) +
            " nsid " + std::to_string(p.requestSubValue) + " bytes " + std::to_string(p.dataLength);
  }
  const std::uint64_t end = std::uint64_t{offsetof(ProtocolDataDescriptor, protocol)} + p.dataOffset +
                            p.dataLength;
  const std::uint32_t property = identify && p.requestValue == kNvmeCnsController
                                     ? kAdapterProtocolSpecificProperty
                                     : kDeviceProtocolSpecificProperty;
  if (q.queryType != kPropertyStandardQuery || p.protocolType != kProtocolTypeNvme ||
      (!identify && p.dataType != kNvmeDataTypeLogPage) || q.propertyId != property ||
      p.dataOffset < sizeof(ProtocolSpecificData) || p.dataLength == 0 || p.dataLength % 4 != 0 ||
      end > in.size()) {
    return win32::ERROR_INVALID_PARAMETER_;
  }
  if (end > out.size()) return win32::ERROR_INSUFFICIENT_BUFFER_;
  std::vector<std::uint8_t> data(p.dataLength);
  NvmeAdminRequest request;
  request.direction = DataDirection::in;
  request.data = data;
  if (identify) {
    request.opcode = kNvmeIdentify;
    request.cdw[0] = p.requestValue;
    request.nsid = p.requestSubValue;
  } else {
    request.opcode = kNvmeGetLogPage;
    request.nsid = 0xFFFFFFFFu;
    const std::uint32_t numd = p.dataLength / 4 - 1;
    request.cdw[0] = (p.requestValue & 0xFF) | (p.requestSubValue4 & 1) << 15 |
                     (p.requestSubValue4 >> 1 & 0xF) << 8 | numd << 16;
    request.cdw[1] = numd >> 16 | p.requestSubValue3 << 16;
    request.cdw[2] = p.requestSubValue;
    request.cdw[3] = p.requestSubValue2;
  }
  const NvmeAdminAnswer answer = controller.NvmeAdmin(handle, request);
  if (!answer.delivered) return answer.systemError;
  // The query reports no NVMe status: an error is the driver's own.
  if (!answer.status.ok()) return win32::ERROR_IO_DEVICE_;
  ProtocolDataDescriptor d{};
  d.version = d.size = sizeof d;
  d.protocol = p;
  d.protocol.fixedReturnData = answer.result;
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  std::memcpy(out.data(), &d, sizeof d);
  std::copy(data.begin(), data.end(),
            out.begin() + static_cast<std::ptrdiff_t>(end - p.dataLength));
  if (returned) *returned = static_cast<std::uint32_t>(end);
  return 0;
}

bool NvmeThroughQueryIo::Driver::DeviceIoControl(OsHandle handle, std::uint32_t code, void* in,
                                                 std::uint32_t inSize, void* out,
                                                 std::uint32_t outSize, std::uint32_t* returned) {
  // The input is read whole before the output is written: they may be one block.
  const std::vector<std::uint8_t> input(static_cast<const std::uint8_t*>(in),
                                        static_cast<const std::uint8_t*>(in) + inSize);
  error_ = code == kIoctlStorageQueryProperty
               ? AnswerNvmeQuery(controller_, handle, input,
                                 std::span(static_cast<std::uint8_t*>(out), outSize), returned)
               : win32::ERROR_INVALID_FUNCTION_;
  return error_ == 0;
}

}  // namespace brisquel::winpt
