#include "core/HxAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>
#include <ostream>

#include "core/HxAtLoad.h"
#include "core/HxDebug.h"
#include "core/HxProcessEnv.h"

namespace {
constexpr char kMacBlank[] = "00:00:00:00:00:00";
}  // namespace

HxString const& hx_mac_address_blank() { return HxKeptText<kMacBlank>::get(); }

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One MAC group: its first two characters as hexadecimal digits, a
// character that is not one counting as 0.
int mac_group(char const* p, int n) { return HxString(p, n < 2 ? n : 2).hexchar(); }

// Calls f(start, length) for each ':'-separated group, empty ones included.
template <class F>
void each_group(HxString const& text, F f) {
  char const* p = text.value();
  int n = text.length();
  int start = 0;
  for (int i = 0; i <= n; ++i) {
    if (i == n || p[i] == ':') {
      f(p + start, i - start);
      start = i + 1;
    }
  }
}

}  // namespace

// ---- HxAddress -------------------------------------------------------------

HxAddress::HxAddress(HxString const& text) {
  if (!parse_(text)) wipe();
}

void HxAddress::copy(HxString const& text) { parse_(text); }

bool HxAddress::parse_(HxString const& text) {
  unsigned octets[4] = {0, 0, 0, 0};
  int groups = 0;
  if (text.length() > 0) {
    unsigned group = 0;
    char const* p = text.value();
    for (int i = 0; i < text.length(); ++i) {
      if (is_digit(p[i])) {
        group = (group * 10 + static_cast<unsigned>(p[i] - '0')) % 256;
      } else {
        if (groups >= 4) return false;
        octets[groups++] = group;
        group = 0;
      }
    }
    if (groups >= 4) return false;
    octets[groups++] = group;
  }
  value_ = static_cast<int>((octets[0] << 24) | (octets[1] << 16) | (octets[2] << 8) | octets[3]);
  blank_ = 0;
  return true;
}

HxString HxAddress::stringvalue() const {
  uint32_t v = value();
  HxString out;
  for (int shift = 24; shift >= 0; shift -= 8) {
    out += static_cast<int>((v >> shift) & 0xFF);
    if (shift > 0) out += '.';
  }
  return out;
}

HxString HxAddress::hexvalue() const {
  uint32_t v = value();
  HxString out;
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.hexvalue(static_cast<char>((v >> shift) & 0xFF));
    if (shift > 0) out += '.';
  }
  return out;
}

HxAddress HxAddress::hostname(HxString const& name) {
  HxAddress out;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  // A name with a NUL byte inside would be resolved as its first part.
  if (std::strlen(name.value()) != static_cast<size_t>(name.length())) return out;
  addrinfo* list = nullptr;
  int rc;
  {
    // The resolver reads its variables from the environment.
    std::shared_lock<HxEnvLock> hold(hx_environ_lock());
    rc = getaddrinfo(name.value(), nullptr, &hints, &list);
  }
  if (rc != 0 || list == nullptr) return out;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addr == nullptr) continue;
    auto const* in = reinterpret_cast<sockaddr_in const*>(a->ai_addr);
    out.value_ = static_cast<int>(ntohl(in->sin_addr.s_addr));
    out.blank_ = 0;
  }
  freeaddrinfo(list);
  return out;
}

bool HxAddress::isaddress(HxString const& text) {
  char const* p = text.value();
  int n = text.length();
  int i = 0;
  for (int g = 0; g < 4; ++g) {
    if (g > 0) {
      if (i >= n || p[i] != '.') return false;
      ++i;
    }
    int start = i, value = 0;
    while (i < n && is_digit(p[i])) {
      value = value * 10 + (p[i] - '0');
      if (value > 255) return false;
      ++i;
    }
    if (i == start) return false;
  }
  return i == n;
}

std::ostream& operator<<(std::ostream& out, HxAddress const& a) { return out << a.stringvalue(); }

HxDebug& operator<<(HxDebug& out, HxAddress const& a) { return out << a.stringvalue(); }

// ---- HxMacAddress ----------------------------------------------------------

void HxMacAddress::copy(HxString const& in) {
  HxString const text(in);  // in may be our own text
  text_ = "";
  if (text.length() == 0) return;
  HxString out;
  bool any = false;
  bool first = true;
  each_group(text, [&](char const* p, int n) {
    int b = mac_group(p, n);
    if (b != 0) any = true;
    if (!first) out += ':';
    first = false;
    out.hexvalue(static_cast<char>(b));
  });
  if (any) text_ = out;
}

bool HxMacAddress::blank() const {
  if (text_.length() == 0) return true;
  bool zero = true;
  each_group(text_, [&](char const* p, int n) {
    if (mac_group(p, n) != 0) zero = false;
  });
  return zero;
}

bool HxMacAddress::isaddress(HxString const& text) {
  char const* p = text.value();
  int n = text.length();
  if (n == 0) return false;
  int i = 0;
  for (int g = 0; g < 6; ++g) {
    int start = i, value = 0;
    while (i < n && hex_digit(p[i]) >= 0) {
      value = value * 16 + hex_digit(p[i]);
      if (value > 255) return false;
      ++i;
    }
    if (i == start) return false;
    if (g < 5) {
      if (i >= n || p[i] != ':') return false;
      ++i;
    }
  }
  // One further character of any kind is tolerated after the last group.
  return n - i <= 1;
}

std::ostream& operator<<(std::ostream& out, HxMacAddress const& a) { return out << a.value(); }

HxDebug& operator<<(HxDebug& out, HxMacAddress const& a) { return out << a.value(); }

// ---- HxHostname ------------------------------------------------------------

void HxHostname::copy(HxString const& text) {
  char const* p = text.value();
  int n = text.length();
  int colon = -1;
  for (int i = 0; i < n; ++i) {
    if (p[i] == ':') {
      colon = i;
      break;
    }
  }
  if (colon < 0) {
    host_ = text;
    port_ = 0;
    return;
  }
  HxString host(p, colon);
  HxString port(p + colon + 1, n - colon - 1);
  host_ = host;
  port_ = port.integervalue();
}

HxString HxHostname::value() const {
  HxString out = host_;
  if (port_ != 0) {
    out += ':';
    out += port_;
  }
  return out;
}
