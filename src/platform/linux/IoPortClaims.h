// Which I/O port ranges a kernel driver holds, from /proc/ioports, and the
// guard that keeps the program's port I/O off them: two masters on one
// channel's task-file registers corrupt each other's commands.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace brisquel::linuxpt {

struct IoPortClaim {
  std::uint16_t first = 0;
  std::uint16_t last = 0;
  std::string owner;
};

struct IoPortClaims {
  std::vector<IoPortClaim> claims;
  // The kernel shows every range as 0000-0000 to a reader without
  // CAP_SYS_ADMIN: nothing can be told then.
  bool addressesHidden = false;
};

// Parses /proc/ioports text. Every range named after something that uses the
// ports is a claim; bus windows, a PCI function's own resource (its BAR, held
// for no driver), PnP reservations and "reserved" are not.
IoPortClaims ParseIoPortClaims(std::string_view text);

// The innermost claim covering the port, if any.
const IoPortClaim* FindClaim(const IoPortClaims& claims, std::uint16_t port);

class PortGuard {
 public:
  // Reads /proc/ioports; nothing when it cannot be read.
  using Loader = std::function<std::optional<std::string>()>;
  using NoticeSink = std::function<void(const std::string&)>;

  explicit PortGuard(Loader loader);
  void SetNoticeSink(NoticeSink sink) { sink_ = std::move(sink); }
  // Reads the claims again (a driver may have been bound or unbound since).
  void Refresh();
  // True when the program may drive the port. A refusal is told to the sink
  // once per claimed range (or once when the claims cannot be known).
  bool Allowed(std::uint16_t port);

 private:
  void Tell(const std::string& text);

  Loader loader_;
  NoticeSink sink_;
  std::optional<IoPortClaims> claims_;
  bool loaded_ = false;
  std::set<std::string> told_;
};

}  // namespace brisquel::linuxpt
