// The firmware interface's records as the documentation declares them, in the
// system's own types and packing, against ours: the SDK that cross-builds this
// declares only the control codes.
#include <windows.h>
#include <winioctl.h>

#include <cstddef>

#include "platform/windows/portable/FirmwareRecords.h"

namespace brisquel::winpt {
namespace {

static_assert(IOCTL_STORAGE_FIRMWARE_GET_INFO == kIoctlFirmwareGetInfo);
static_assert(IOCTL_STORAGE_FIRMWARE_DOWNLOAD == kIoctlFirmwareDownload);
static_assert(IOCTL_STORAGE_FIRMWARE_ACTIVATE == kIoctlFirmwareActivate);

struct DocInfoQuery {
  DWORD Version;
  DWORD Size;
  DWORD Flags;
  DWORD Reserved;
};
static_assert(sizeof(DocInfoQuery) == sizeof(FirmwareInfoQuery));
static_assert(offsetof(DocInfoQuery, Flags) == offsetof(FirmwareInfoQuery, flags));

struct DocSlotInfo {
  DWORD Version;
  DWORD Size;
  UCHAR SlotNumber;
  BOOLEAN ReadOnly : 1;
  BOOLEAN Reserved0 : 7;
  UCHAR Reserved1[6];
  UCHAR Revision[16];
};
static_assert(sizeof(DocSlotInfo) == sizeof(FirmwareSlotInfo));
static_assert(offsetof(DocSlotInfo, SlotNumber) ==
              offsetof(FirmwareSlotInfo, slot) + offsetof(FirmwareSlotRecord, slotNumber));
static_assert(offsetof(DocSlotInfo, Reserved1) ==
              offsetof(FirmwareSlotInfo, slot) + offsetof(FirmwareSlotRecord, reserved));
static_assert(offsetof(DocSlotInfo, Revision) ==
              offsetof(FirmwareSlotInfo, slot) + offsetof(FirmwareSlotRecord, revision));

struct DocInfo {
  DWORD Version;
  DWORD Size;
  BOOLEAN SupportUpgrade : 1;
  BOOLEAN Reserved0 : 7;
  UCHAR SlotCount;
  UCHAR ActiveSlot;
  UCHAR PendingActivateSlot;
  BOOLEAN FirmwareShared;
  UCHAR Reserved[3];
  DWORD ImagePayloadAlignment;
  DWORD ImagePayloadMaxSize;
  DocSlotInfo Slot[1];
};
static_assert(offsetof(DocInfo, SlotCount) == offsetof(FirmwareInfoHeader, slotCount));
static_assert(offsetof(DocInfo, ActiveSlot) == offsetof(FirmwareInfoHeader, activeSlot));
static_assert(offsetof(DocInfo, PendingActivateSlot) ==
              offsetof(FirmwareInfoHeader, pendingActivateSlot));
static_assert(offsetof(DocInfo, FirmwareShared) == offsetof(FirmwareInfoHeader, firmwareShared));
static_assert(offsetof(DocInfo, ImagePayloadAlignment) ==
              offsetof(FirmwareInfoHeader, imagePayloadAlignment));
static_assert(offsetof(DocInfo, ImagePayloadMaxSize) ==
              offsetof(FirmwareInfoHeader, imagePayloadMaxSize));
static_assert(offsetof(DocInfo, Slot) == sizeof(FirmwareInfoHeader));
static_assert(sizeof(DocInfo) == sizeof(FirmwareInfoHeader) + sizeof(FirmwareSlotInfo));

struct DocDownload {
  DWORD Version;
  DWORD Size;
  DWORD Flags;
  UCHAR Slot;
  UCHAR Reserved[3];
  DWORDLONG Offset;
  DWORDLONG BufferSize;
  UCHAR ImageBuffer[1];
};
static_assert(sizeof(DocDownload) == kFirmwareDownloadRecordSize);
static_assert(offsetof(DocDownload, Flags) == offsetof(FirmwareDownloadHeader, flags));
static_assert(offsetof(DocDownload, Slot) == offsetof(FirmwareDownloadHeader, slot));
static_assert(offsetof(DocDownload, Offset) == offsetof(FirmwareDownloadHeader, offset));
static_assert(offsetof(DocDownload, BufferSize) == offsetof(FirmwareDownloadHeader, bufferSize));
static_assert(offsetof(DocDownload, ImageBuffer) == sizeof(FirmwareDownloadHeader));

struct DocActivate {
  DWORD Version;
  DWORD Size;
  DWORD Flags;
  UCHAR Slot;
  UCHAR Reserved0[3];
};
static_assert(sizeof(DocActivate) == sizeof(FirmwareActivateRecord));
static_assert(offsetof(DocActivate, Flags) == offsetof(FirmwareActivateRecord, flags));
static_assert(offsetof(DocActivate, Slot) == offsetof(FirmwareActivateRecord, slot));

}  // namespace
}  // namespace brisquel::winpt
