// The protocol-specific query's records as the SDK declares them, against
// ours, which are built without the system's headers.
#include <windows.h>
#include <winioctl.h>

#include <cstddef>

#include "platform/windows/portable/NvmeQuery.h"

namespace brisquel::winpt {
namespace {

static_assert(IOCTL_STORAGE_QUERY_PROPERTY == kIoctlStorageQueryProperty);
static_assert(StorageAdapterProtocolSpecificProperty == kAdapterProtocolSpecificProperty);
static_assert(StorageDeviceProtocolSpecificProperty == kDeviceProtocolSpecificProperty);
static_assert(PropertyStandardQuery == kPropertyStandardQuery);
static_assert(ProtocolTypeNvme == kProtocolTypeNvme);
static_assert(NVMeDataTypeIdentify == kNvmeDataTypeIdentify);
static_assert(NVMeDataTypeLogPage == kNvmeDataTypeLogPage);

using Data = STORAGE_PROTOCOL_SPECIFIC_DATA;
static_assert(sizeof(Data) == sizeof(ProtocolSpecificData));
static_assert(offsetof(Data, DataType) == offsetof(ProtocolSpecificData, dataType));
static_assert(offsetof(Data, ProtocolDataRequestValue) == offsetof(ProtocolSpecificData, requestValue));
static_assert(offsetof(Data, ProtocolDataRequestSubValue) ==
              offsetof(ProtocolSpecificData, requestSubValue));
static_assert(offsetof(Data, ProtocolDataOffset) == offsetof(ProtocolSpecificData, dataOffset));
static_assert(offsetof(Data, ProtocolDataLength) == offsetof(ProtocolSpecificData, dataLength));
static_assert(offsetof(Data, FixedProtocolReturnData) ==
              offsetof(ProtocolSpecificData, fixedReturnData));
static_assert(offsetof(Data, ProtocolDataRequestSubValue2) ==
              offsetof(ProtocolSpecificData, requestSubValue2));
static_assert(offsetof(Data, ProtocolDataRequestSubValue3) ==
              offsetof(ProtocolSpecificData, requestSubValue3));
static_assert(offsetof(Data, ProtocolDataRequestSubValue4) ==
              offsetof(ProtocolSpecificData, requestSubValue4));

// The query's AdditionalParameters is where the protocol record goes.
static_assert(offsetof(STORAGE_PROPERTY_QUERY, PropertyId) ==
              offsetof(ProtocolPropertyQuery, propertyId));
static_assert(offsetof(STORAGE_PROPERTY_QUERY, QueryType) == offsetof(ProtocolPropertyQuery, queryType));
static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) ==
              offsetof(ProtocolPropertyQuery, protocol));

static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == sizeof(ProtocolDataDescriptor));
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, Size) == offsetof(ProtocolDataDescriptor, size));
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) ==
              offsetof(ProtocolDataDescriptor, protocol));

}  // namespace
}  // namespace brisquel::winpt
