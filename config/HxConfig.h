#pragma once

#include <tuple>

#include "core/HxAddress.h"
#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// One flat set of options, key = value, kept in the order in which each key
// first appeared. Read from a file or a text by a small scanner, written
// back as configuration text, merged into a commented template, and carried
// in messages as record type 50.
//
// Invariant: a key is in the option list exactly when it is in the option
// table, and never twice in the list (a decoded record may break it; copying
// rebuilds an empty list from the table).
class HxConfig : public HxRecord<HxConfig> {
 public:
  HxConfig();
  explicit HxConfig(HxString const& path);
  HxConfig(HxConfig const& other);
  HxConfig& operator=(HxConfig const& other);
  ~HxConfig() override;

  int type() const override { return 50; }
  HxString typeXML() const override { return HxString("config"); }

  // Address, name, options; the scan state stays the target's own.
  void copy(HxConfig const& other);

  // Reading.
  void load(HxString const& path);
  bool parse(HxString const& text);
  bool revert(HxString const& text);
  bool valid() const { return valid_ != 0; }

  // Options.
  HxString const& option(HxString const& key) const;
  void option(HxString const& key, HxString const& value);
  bool exists(HxString const& key) const;
  bool remove(HxString const& key);
  HxStringList* optionlist() const;
  void labels(HxStringList& out) const;
  bool matchsubset(HxConfig& other) const;
  void inherit(HxConfig& other);

  // Writing.
  HxString convert() const;
  void display() const;
  HxString usetemplate(HxString const& text) const;
  HxString loadtemplate(HxString const& path) const;

  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  HxAddress const& address() const { return address_; }
  void address(HxAddress const& address) { address_ = address; }
  HxString host() const;

  // Scanner primitives; they act on the scan text at the scan position.
  bool eof() const { return pos_ >= len_; }
  char get() { return eof() ? 0 : ptr_[pos_++]; }
  char peek() const { return eof() ? 0 : ptr_[pos_]; }
  bool _whitespace();
  bool _comment();
  bool _header();
  bool _option();
  bool _value(HxString& out);

  // The record form, in wire order.
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "address", &HxConfig::address_),
                           hx_field(3, "optionlist", &HxConfig::optionlist_),
                           hx_field(0, "options", &HxConfig::options_),
                           hx_field(2, "name", &HxConfig::name_));
  }

  // Value as configuration text that reads back as the same value: braced
  // when it spans lines; quoted when a bare read would cut it short or take
  // it otherwise (a blank, a '#', a quote or brace in front); bare otherwise.
  static HxString _format(HxString const& value);

 private:
  void scan_();
  void skip_line_();
  static void labels_into_(HxStringList const& list, HxStringList& out);

  HxAddress address_;
  HxString name_;
  HxStringList optionlist_;
  HxStringHash options_;
  int pos_ = 0;
  HxString text_;
  unsigned char valid_ = 0;
  HxString empty_;
  // Cached while a scan runs.
  char const* ptr_ = nullptr;
  int len_ = 0;
};

// Stores a copy of value under key in table and lists key at the end of
// list unless it is listed already, so that the list names each key of the
// table once, at the place where it was first stored. Serves option sets and
// path maps alike.
void _hx_ordered_set(HxStringList& list, HxStringHash& table, HxString const& key, HxString const& value);

// Orderings of option names: 1 when a is greater, -1 when smaller, else 0.
int _hx_config_cmp(HxString* a, HxString* b);
int hx_config_sort_func(HxString* a, HxString* b);
