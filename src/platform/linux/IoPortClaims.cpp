#include "platform/linux/IoPortClaims.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "text/Trim.h"

namespace brisquel::linuxpt {

namespace {
constexpr std::string_view kSpaces = " \t\n\v\f\r";

bool IsHex(std::string_view s) {
  for (char c : s) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return !s.empty();
}

// "0000:00:01.1": a PCI function's own resource, not a driver's.
bool IsPciFunctionName(std::string_view s) {
  return s.size() == 12 && IsHex(s.substr(0, 4)) && s[4] == ':' && IsHex(s.substr(5, 2)) &&
         s[7] == ':' && IsHex(s.substr(8, 2)) && s[10] == '.' && s[11] >= '0' && s[11] <= '7';
}

bool IsOwnerless(std::string_view name) {
  return name.starts_with("PCI Bus ") || name.starts_with("PCI CardBus ") ||
         name.starts_with("pnp ") || name == "reserved" || IsPciFunctionName(name);
}

std::optional<std::uint16_t> ParsePort(std::string_view s) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty() || value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::string Hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", v);
  return text;
}
}  // namespace

IoPortClaims ParseIoPortClaims(std::string_view text) {
  IoPortClaims result;
  std::size_t ranges = 0, zeroRanges = 0;
  // Names of the enclosing ranges, by nesting depth (two spaces a level).
  std::vector<std::string_view> parents;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    const std::size_t colon = line.find(" : ");
    if (colon == std::string_view::npos) continue;
    const std::string_view range = Trim(line.substr(0, colon), kSpaces);
    const std::string_view name = Trim(line.substr(colon + 3), kSpaces);
    const std::size_t dash = range.find('-');
    if (dash == std::string_view::npos) continue;
    const auto first = ParsePort(range.substr(0, dash));
    const auto last = ParsePort(range.substr(dash + 1));
    if (!first || !last || *last < *first) continue;
    ++ranges;
    if (*first == 0 && *last == 0) ++zeroRanges;
    const std::size_t depth = line.find_first_not_of(' ') / 2;
    parents.resize(depth);
    // Whatever is requested inside a PCI function's resource is its driver's,
    // even when the driver named it after the function.
    const bool insideFunction = depth > 0 && IsPciFunctionName(parents[depth - 1]);
    if (insideFunction || !IsOwnerless(name)) {
      result.claims.push_back({*first, *last, std::string(name)});
    }
    parents.push_back(name);
  }
  result.addressesHidden = ranges > 1 && zeroRanges == ranges;
  return result;
}

const IoPortClaim* FindClaim(const IoPortClaims& claims, std::uint16_t port) {
  // Nested ranges come after their parents, so the last match is the innermost.
  const IoPortClaim* found = nullptr;
  for (const auto& c : claims.claims) {
    if (c.first <= port && port <= c.last) found = &c;
  }
  return found;
}

PortGuard::PortGuard(Loader loader) : loader_(std::move(loader)) {}

void PortGuard::Refresh() {
  const auto text = loader_();
  claims_ = text ? std::optional<IoPortClaims>(ParseIoPortClaims(*text)) : std::nullopt;
  loaded_ = true;
}

void PortGuard::Tell(const std::string& text) {
  if (told_.insert(text).second && sink_) sink_(text);
}

bool PortGuard::Allowed(std::uint16_t port) {
  if (!loaded_) Refresh();
  // Without the claims nobody can say the ports are free: refuse them all.
  if (!claims_) {
    Tell("PIO: /proc/ioports cannot be read, so port I/O is refused");
    return false;
  }
  if (claims_->addressesHidden) {
    Tell("PIO: /proc/ioports hides its addresses from this user, so port I/O is refused");
    return false;
  }
  if (const IoPortClaim* claim = FindClaim(*claims_, port)) {
    Tell("PIO: ports " + Hex4(claim->first) + "-" + Hex4(claim->last) + " belong to " +
         claim->owner + ", so port I/O there is refused");
    return false;
  }
  return true;
}

}  // namespace brisquel::linuxpt
