#pragma once

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// One central preference: type, entity path and value, tier, preset, user
// and the mandate flag. The type's getter is preftype(): type() is the
// record's type number.
class HxPreference : public HxRecord<HxPreference> {
 public:
  HxPreference() = default;
  HxPreference(HxPreference const&) = default;
  HxPreference& operator=(HxPreference const&) = default;
  void copy(HxPreference const& other) { *this = other; }

  int type() const override { return 204; }
  HxString typeXML() const override { return "preference"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "type", &HxPreference::type_),
                           hx_field(2, "entity_path", &HxPreference::entity_path_),
                           hx_field(3, "entity_value", &HxPreference::entity_value_),
                           hx_field(4, "tier", &HxPreference::tier_), hx_field(5, "preset", &HxPreference::preset_),
                           hx_field(6, "user", &HxPreference::user_),
                           hx_field(7, "mandate", &HxPreference::mandate_));
  }

  HxString preftype() const { return type_; }
  void type(HxString const& v) { type_ = v; }
  HxString entity_path() const { return entity_path_; }
  void entity_path(HxString const& v) { entity_path_ = v; }
  HxString entity_value() const { return entity_value_; }
  void entity_value(HxString const& v) { entity_value_ = v; }
  HxString tier() const { return tier_; }
  void tier(HxString const& v) { tier_ = v; }
  HxString preset() const { return preset_; }
  void preset(HxString const& v) { preset_ = v; }
  HxString user() const { return user_; }
  void user(HxString const& v) { user_ = v; }
  unsigned char mandate() const { return mandate_; }
  void mandate(unsigned char v) { mandate_ = v; }

 private:
  HxString type_;
  HxString entity_path_;
  HxString entity_value_;
  HxString tier_;
  HxString preset_;
  HxString user_;
  unsigned char mandate_ = 0;
};

// One field of a database row: column name, data type number and the value
// as text.
class HxDbField : public HxRecord<HxDbField> {
 public:
  HxDbField() = default;
  HxDbField(HxString const& name, int datatype, HxString const& data)
      : name_(name), datatype_(datatype), data_(data) {}
  HxDbField(HxDbField const&) = default;
  HxDbField& operator=(HxDbField const&) = default;
  void copy(HxDbField const& other) { *this = other; }

  int type() const override { return 201; }
  HxString typeXML() const override { return "db_field"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &HxDbField::name_), hx_field(2, "datatype", &HxDbField::datatype_),
                           hx_field(3, "data", &HxDbField::data_));
  }

  HxString name() const { return name_; }
  int datatype() const { return datatype_; }
  HxString data() const { return data_; }
  // The leading decimal number of the data text; 0 without one.
  int integer() const { return data_.integervalue(); }

 private:
  HxString name_{""};
  int datatype_ = 0;
  HxString data_{"0"};
};

HX_NAMED_LIST(HxDbRow, HxDbField, 202, "db_row");
HX_NAMED_LIST(HxDbRows, HxDbRow, 203, "db_rows");

// A labelled table of texts with a title. Labels enter their hashes only
// when a cell of their row or column is first set; nothing is ever removed.
class HxDataTable : public HxRecord<HxDataTable> {
 public:
  HxDataTable() = default;
  HxDataTable(int, int) {}
  HxDataTable(HxDataTable const& other) : HxRecord<HxDataTable>() { copy(other); }
  HxDataTable& operator=(HxDataTable const& other);
  void copy(HxDataTable const& other) { *this = other; }

  int type() const override { return 38; }
  HxString typeXML() const override { return "data_table"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "col_labels", &HxDataTable::collabels_),
                           hx_field(3, "row_labels", &HxDataTable::rowlabels_),
                           hx_field(4, "data", &HxDataTable::data_), hx_field(7, "title", &HxDataTable::title_));
  }

  // The cell's text; the blank text for a cell never set.
  HxString const& data(HxString const& row, HxString const& col) const;
  void data(HxString const& row, HxString const& col, HxString const& value);
  // Adds n to the cell's integer value; the sum is kept within the int range.
  void add(HxString const& row, HxString const& col, int n);

  // Append a copy of each label, in the label hash's slot order, after what
  // the list already holds.
  void rowlabels(HxStringList& list) const;
  void collabels(HxStringList& list) const;

  HxString const& title() const { return title_; }
  void title(HxString const& t) { title_ = t; }

 private:
  static HxString key_(HxString const& row, HxString const& col);
  static void labels_(HxStringHash const& hash, HxStringList& list);

  HxStringHash collabels_;
  HxStringHash rowlabels_;
  HxStringHash data_;
  HxString title_;
  HxString const blank_;
};

HX_NAMED_LIST(HxDataTableList, HxDataTable, 39, "data_table_list");
