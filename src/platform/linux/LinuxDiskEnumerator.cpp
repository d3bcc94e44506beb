#include "platform/linux/LinuxDiskEnumerator.h"

#include <libudev.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <system_error>

namespace brisquel::linuxpt {

namespace {
// BusTypeName codes.
constexpr std::uint8_t kBusUnknown = 0, kBusScsi = 1, kBusAta = 3, kBus1394 = 4, kBusFibre = 6,
                       kBusUsb = 7, kBusIscsi = 9, kBusSas = 10, kBusSata = 11, kBusSd = 12,
                       kBusMmc = 13, kBusVirtual = 14, kBusNvme = 17;

bool HasAncestor(const DiskFacts& f, std::string_view subsystem) {
  return std::any_of(f.ancestors.begin(), f.ancestors.end(),
                     [&](const auto& a) { return a.first == subsystem; });
}

bool HasAncestorNamed(const DiskFacts& f, std::string_view prefix) {
  return std::any_of(f.ancestors.begin(), f.ancestors.end(),
                     [&](const auto& a) { return a.second.starts_with(prefix); });
}

// libata's port device: "ata" and a number, with no subsystem of its own.
bool IsAtaPortName(std::string_view name) {
  return name.size() > 3 && name.starts_with("ata") &&
         std::all_of(name.begin() + 3, name.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::string Collapse(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string Value(const char* text) {
  return text ? text : "";
}
}  // namespace

std::uint8_t BusTypeOf(const DiskFacts& f) {
  if (f.idBus == "usb" || HasAncestor(f, "usb")) return kBusUsb;
  if (f.sysname.starts_with("nvme") || HasAncestor(f, "nvme")) return kBusNvme;
  if (!f.ancestors.empty() && f.ancestors.front().first == "virtio") return kBusVirtual;
  if (HasAncestor(f, "mmc")) return f.mmcType == "SD" ? kBusSd : kBusMmc;
  const bool libata = std::any_of(f.ancestors.begin(), f.ancestors.end(), [](const auto& a) {
    return a.first.empty() && IsAtaPortName(a.second);
  });
  if (libata || f.idBus == "ata") {
    if (f.idAtaSata) return kBusSata;
    // A parallel link has no SATA speed to show.
    if (f.sataSpeed && f.sataSpeed->find("Gbps") == std::string::npos) return kBusAta;
    return kBusSata;
  }
  if (HasAncestor(f, "firewire") || HasAncestor(f, "ieee1394")) return kBus1394;
  if (HasAncestor(f, "ide")) return kBusAta;
  if (HasAncestorNamed(f, "end_device-") || HasAncestorNamed(f, "expander-")) return kBusSas;
  if (HasAncestorNamed(f, "session")) return kBusIscsi;
  if (HasAncestorNamed(f, "rport-")) return kBusFibre;
  if (f.idBus == "scsi" || HasAncestor(f, "scsi")) return kBusScsi;
  return kBusUnknown;
}

bool IsListedDisk(const DiskFacts& f) {
  if (f.ancestors.empty()) return false;
  if (f.sysname.starts_with("sr")) return false;
  if (f.sysname.starts_with("mmcblk") &&
      (f.sysname.find("boot") != std::string::npos || f.sysname.ends_with("rpmb"))) {
    return false;
  }
  return true;
}

std::int32_t SdIndex(std::string_view name) {
  if (name.size() < 3 || !name.starts_with("sd")) return -1;
  std::int64_t n = 0;
  for (char c : name.substr(2)) {
    if (c < 'a' || c > 'z' || n > 100'000'000) return -1;
    n = n * 26 + (c - 'a' + 1);
  }
  return static_cast<std::int32_t>(n - 1);
}

std::string DecodeUdevEscapes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned value = 0;
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      const auto [end, ec] = std::from_chars(text.data() + i + 2, text.data() + i + 4, value, 16);
      if (ec == std::errc() && end == text.data() + i + 4) {
        out.push_back(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::optional<std::string> FriendlyName(std::string_view vendor, std::string_view model) {
  const std::string v = Collapse(vendor);
  const std::string m = Collapse(model);
  if (m.empty()) return std::nullopt;
  if (v.empty() || v == "ATA" || m.starts_with(v)) return m;
  return v + " " + m;
}

LinuxDiskEnumerator::LinuxDiskEnumerator() : udev_(udev_new()) {}

LinuxDiskEnumerator::~LinuxDiskEnumerator() {
  if (udev_) udev_unref(udev_);
}

namespace {
DiskFacts GatherFacts(udev_device* disk) {
  DiskFacts f;
  f.sysname = Value(udev_device_get_sysname(disk));
  f.idBus = Value(udev_device_get_property_value(disk, "ID_BUS"));
  f.idAtaSata = Value(udev_device_get_property_value(disk, "ID_ATA_SATA")) == "1";
  for (udev_device* p = udev_device_get_parent(disk); p; p = udev_device_get_parent(p)) {
    const std::string subsystem = Value(udev_device_get_subsystem(p));
    const std::string name = Value(udev_device_get_sysname(p));
    f.ancestors.emplace_back(subsystem, name);
    if (subsystem.empty() && IsAtaPortName(name) && !f.sataSpeed) {
      // ataN/linkN/ata_link/linkN/sata_spd: the port's own link.
      const std::string link = "link" + name.substr(3);
      if (const char* spd = udev_device_get_sysattr_value(
              p, (link + "/ata_link/" + link + "/sata_spd").c_str())) {
        f.sataSpeed = spd;
      }
    }
    if (subsystem == "mmc" && !f.mmcType) {
      if (const char* type = udev_device_get_sysattr_value(p, "type")) f.mmcType = type;
    }
  }
  return f;
}

// The escaped form keeps the text as the device gave it; the plain one has
// its blanks turned into underscores.
std::string Property(udev_device* d, const char* encoded, const char* plain) {
  if (const char* v = udev_device_get_property_value(d, encoded)) return DecodeUdevEscapes(v);
  std::string text = Value(udev_device_get_property_value(d, plain));
  std::replace(text.begin(), text.end(), '_', ' ');
  return text;
}

std::optional<std::uint32_t> NumberAttr(udev_device* d, const char* name) {
  const char* text = udev_device_get_sysattr_value(d, name);
  if (!text) return std::nullopt;
  std::uint64_t value = 0;
  const std::string_view s(text);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}
}  // namespace

constexpr const char* kBlockClass = "/sys/class/block";

bool LinuxDiskEnumerator::Begin() {
  disks_.clear();
  if (!udev_) return false;
  // The block devices by name, read here rather than by a udev enumeration,
  // which resolves and reads every device's records (partitions, loop and
  // ram devices included) before its caller reads them again.
  std::error_code ec;
  std::filesystem::directory_iterator dir(kBlockClass, ec);
  if (ec) return false;
  std::vector<std::pair<std::string, DiskInterfaceInfo>> found;
  for (const std::filesystem::directory_entry& entry : dir) {
    // A device of no hardware (loop, ram, zram, device mapper, md) has no
    // parent, so the list never shows it: its records are not read at all.
    const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), ec);
    if (ec || target.string().find("/virtual/") != std::string::npos) continue;
    udev_device* disk = udev_device_new_from_syspath(udev_, entry.path().c_str());
    if (!disk) continue;
    if (Value(udev_device_get_devtype(disk)) != "disk") {  // a partition
      udev_device_unref(disk);
      continue;
    }
    const DiskFacts facts = GatherFacts(disk);
    const char* node = udev_device_get_devnode(disk);
    if (node && IsListedDisk(facts)) {
      DiskInterfaceInfo info;
      info.devicePath = node;
      // The model lives on the disk's device (a SCSI device, an NVMe controller).
      udev_device* dev = udev_device_get_parent(disk);
      std::string vendor = Property(disk, "ID_VENDOR_ENC", "ID_VENDOR");
      std::string model = Property(disk, "ID_MODEL_ENC", "ID_MODEL");
      if (model.empty() && dev) {
        vendor = Value(udev_device_get_sysattr_value(dev, "vendor"));
        model = Value(udev_device_get_sysattr_value(dev, "model"));
      }
      info.friendlyName = FriendlyName(vendor, model);
      if (const std::int32_t n = SdIndex(facts.sysname); n >= 0) info.deviceNumber = n;
      info.busType = BusTypeOf(facts);
      const auto maxKb = NumberAttr(disk, "queue/max_hw_sectors_kb");
      const auto segments = NumberAttr(disk, "queue/max_segments");
      const auto alignment = NumberAttr(disk, "queue/dma_alignment");
      info.adapterValid = maxKb && segments && alignment;
      if (info.adapterValid) {
        info.maxTransferLength = *maxKb > 0x3FFFFFu ? 0xFFFFFFFFu : *maxKb * 1024u;
        info.maxPhysicalPages = *segments;
        info.alignmentMask = *alignment;
      }
      found.emplace_back(facts.sysname, std::move(info));
    }
    udev_device_unref(disk);
  }
  // sda, sdb, ... sdz, sdaa: shorter names first within a family.
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first.size() != b.first.size() ? a.first.size() < b.first.size() : a.first < b.first;
  });
  for (auto& [name, info] : found) disks_.push_back(std::move(info));
  return true;
}

DiskStep LinuxDiskEnumerator::Query(int index, DiskInterfaceInfo& info) {
  if (index < 0 || static_cast<std::size_t>(index) >= disks_.size()) return DiskStep::noMoreItems;
  info = disks_[static_cast<std::size_t>(index)];
  return DiskStep::found;
}

}  // namespace brisquel::linuxpt
