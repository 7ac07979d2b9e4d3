#pragma once

#include <cstdint>
#include <iosfwd>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

class HxDebug;

// An IPv4 address as one 32-bit number, first octet in the most significant
// byte. The blank flag (no address set) travels in neither record form.
class HxAddress : public HxRecord<HxAddress> {
 public:
  HxAddress() = default;
  explicit HxAddress(int value) : value_(value), blank_(0) {}
  explicit HxAddress(HxString const& text);

  int type() const override { return 13; }
  HxString typeXML() const override { return "address"; }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "value", &HxAddress::value_)); }

  using HxRecord<HxAddress>::copy;
  // Parses dotted text; text with more than four groups leaves this unchanged.
  void copy(HxString const& text);

  uint32_t value() const { return static_cast<uint32_t>(value_); }
  bool blank() const { return blank_ != 0; }
  void wipe() {
    value_ = 0;
    blank_ = 1;
  }
  // "192.168.1.5"
  HxString stringvalue() const;
  // "C0.A8.01.05"
  HxString hexvalue() const;

  // Resolves a host name (IPv4 only); the last answer wins. Blank when the
  // name does not resolve.
  static HxAddress hostname(HxString const& name);
  // Strict dotted quad: four groups of decimal digits, each at most 255.
  static bool isaddress(HxString const& text);

 private:
  bool parse_(HxString const& text);

  int value_ = 0;  // the address bits
  unsigned char blank_ = 1;
};

std::ostream& operator<<(std::ostream& out, HxAddress const& a);
HxDebug& operator<<(HxDebug& out, HxAddress const& a);

// "00:00:00:00:00:00", the text of an address that is not set.
HxString const& hx_mac_address_blank();

// An Ethernet hardware address, held as six (or any number of) groups of two
// upper-case hexadecimal digits joined by ':'; empty when not set.
class HxMacAddress : public HxRecord<HxMacAddress> {
 public:
  HxMacAddress() = default;
  explicit HxMacAddress(HxString const& text) { copy(text); }

  int type() const override { return 155; }
  HxString typeXML() const override { return "macaddress"; }
  static auto wire_fields() { return std::make_tuple(hx_field(1, "value", &HxMacAddress::text_)); }

  using HxRecord<HxMacAddress>::copy;
  // Normalises the text group by group; an all-zero address is stored empty.
  void copy(HxString const& text);

  HxString const& value() const { return text_.length() == 0 ? hx_mac_address_blank() : text_; }
  // The text as stored (empty when no address is set).
  HxString const& text() const { return text_; }
  bool blank() const;
  static bool isaddress(HxString const& text);

 private:
  HxString text_;
};

std::ostream& operator<<(std::ostream& out, HxMacAddress const& a);
HxDebug& operator<<(HxDebug& out, HxMacAddress const& a);

// A host with an optional port (0 = none) and identifier (-1 = none).
class HxHostname : public HxRecord<HxHostname> {
 public:
  HxHostname() = default;
  explicit HxHostname(HxString const& host) : host_(host) {}
  HxHostname(HxString const& host, int port) : host_(host), port_(port) {}
  HxHostname(HxString const& host, int port, int id) : host_(host), port_(port), id_(id) {}

  int type() const override { return 63; }
  HxString typeXML() const override { return "host_name"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "host", &HxHostname::host_), hx_field(2, "port", &HxHostname::port_),
                           hx_field(3, "id", &HxHostname::id_));
  }

  using HxRecord<HxHostname>::copy;
  // "host:port": the host before the first ':', the port after it; the id
  // stays as it is.
  void copy(HxString const& text);
  HxHostname& operator=(HxString const& text) {
    copy(text);
    return *this;
  }
  void value(HxString const& text) { copy(text); }
  // The host, with ":" and the port when the port is not 0.
  HxString value() const;

  HxString const& host() const { return host_; }
  void host(HxString const& host) { host_ = host; }
  int port() const { return port_; }
  void port(int port) { port_ = port; }
  int id() const { return id_; }
  void id(int id) { id_ = id; }

 private:
  HxString host_;
  int port_ = 0;
  int id_ = -1;
};

HX_NAMED_LIST(HxHostnameList, HxHostname, 64, "host_name_list");
HX_NAMED_LIST(HxMacAddressList, HxMacAddress, 177, "macaddress_list");
