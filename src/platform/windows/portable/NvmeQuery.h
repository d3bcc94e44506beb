// NVMe Identify and log pages on Windows: the storage stack takes no NVMe
// admin command of ours through its pass-through for these, but answers them
// through IOCTL_STORAGE_QUERY_PROPERTY with the protocol-specific property.
// The records in the 64-bit layout, free of the system's headers so the query
// and the answer's reading build and are tested everywhere; the layout is
// checked against the SDK's declarations in the Windows build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/windows/portable/PassThroughBlocks.h"
#include "transport/NvmeRequest.h"

namespace brisquel::winpt {

inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x2D1400;

// STORAGE_PROPERTY_ID and STORAGE_QUERY_TYPE values.
inline constexpr std::uint32_t kAdapterProtocolSpecificProperty = 49;
inline constexpr std::uint32_t kDeviceProtocolSpecificProperty = 50;
inline constexpr std::uint32_t kPropertyStandardQuery = 0;
// STORAGE_PROTOCOL_TYPE and STORAGE_PROTOCOL_NVME_DATA_TYPE values.
inline constexpr std::uint32_t kProtocolTypeNvme = 3;
inline constexpr std::uint32_t kNvmeDataTypeIdentify = 1;
inline constexpr std::uint32_t kNvmeDataTypeLogPage = 2;

// What is asked and what comes back, as the stack reads and writes it.
struct ProtocolSpecificData {
  std::uint32_t protocolType;
  std::uint32_t dataType;
  std::uint32_t requestValue;     // the CNS; the log page's identifier
  std::uint32_t requestSubValue;  // the NSID; the log page's offset, low half
  std::uint32_t dataOffset;       // from this record's start to the data
  std::uint32_t dataLength;
  std::uint32_t fixedReturnData;  // the completion's Dword 0
  std::uint32_t requestSubValue2;  // the log page's offset, high half
  std::uint32_t requestSubValue3;  // the log specific identifier
  std::uint32_t requestSubValue4;  // retain asynchronous event, log specific field
};
static_assert(sizeof(ProtocolSpecificData) == 40);
static_assert(offsetof(ProtocolSpecificData, dataOffset) == 16);
static_assert(offsetof(ProtocolSpecificData, dataLength) == 20);
static_assert(offsetof(ProtocolSpecificData, fixedReturnData) == 24);

// STORAGE_PROPERTY_QUERY with the protocol-specific record as its
// AdditionalParameters; the data follows, in the same block for the answer.
struct ProtocolPropertyQuery {
  std::uint32_t propertyId;
  std::uint32_t queryType;
  ProtocolSpecificData protocol;
};
static_assert(sizeof(ProtocolPropertyQuery) == 48);
static_assert(offsetof(ProtocolPropertyQuery, protocol) == 8);

// STORAGE_PROTOCOL_DATA_DESCRIPTOR: how the answer starts. Version and Size
// are its own size.
struct ProtocolDataDescriptor {
  std::uint32_t version;
  std::uint32_t size;
  ProtocolSpecificData protocol;
};
static_assert(sizeof(ProtocolDataDescriptor) == 48);
static_assert(offsetof(ProtocolDataDescriptor, protocol) == 8);

// Where the data sits in the query's block and in the answer's.
inline constexpr std::size_t kProtocolDataStart = sizeof(ProtocolPropertyQuery);

// The query for an Identify or a Get Log Page the stack can answer, in a block
// with room for its data; none for any other request (another opcode, data
// out, or a log length that is not the data's).
std::optional<std::vector<std::uint8_t>> NvmeQueryBytes(const NvmeAdminRequest& request);

struct NvmeQueryAnswer {
  std::span<const std::uint8_t> data;  // within the answer's block
  std::uint32_t fixedReturnData = 0;
};
// The answer's descriptor checked (its version and size, the data inside what
// came back); none when it makes no sense.
std::optional<NvmeQueryAnswer> ReadNvmeQueryAnswer(std::span<const std::uint8_t> answer);

// An NVMe admin request carried out with the query: Identify and Get Log Page;
// any other is refused with ERROR_NOT_SUPPORTED before anything is sent, as the
// stack forbids the rest (the firmware commands among them) through its
// pass-through. A refused query is not delivered, with the system's error: the
// stack reports no NVMe status through it.
NvmeAdminAnswer NvmeAdminThroughQuery(IoControl& io, OsHandle handle, const NvmeAdminRequest& request);

}  // namespace brisquel::winpt
