#pragma once

#include <tuple>

#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxJobId.h"
#include "model/job/HxVariableId.h"

// One value of a filter, or one requested field name, with its own
// comparison sign. Sign and value stay apart in memory and in both forms.
class HxField : public HxRecord<HxField> {
 public:
  HxField() = default;
  explicit HxField(HxString const& text) { value(text); }

  int type() const override { return 22; }
  HxString typeXML() const override { return "field"; }
  // The value's element is "name": a field is mostly a requested field name.
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &HxField::value_), hx_field(2, "sign", &HxField::sign_));
  }

  // Sets the value; a leading sign character ("~", "=", ">", "<", "%", "*")
  // goes into the sign instead. Only the first character counts, and a text
  // without one leaves the sign as it was.
  void value(HxString const& text);
  HxString const& value() const { return value_; }
  HxString sign() const { return sign_; }
  void sign(HxString const& sign) { sign_ = sign; }

 private:
  HxString value_;
  HxString sign_;
};

HX_NAMED_LIST(HxFieldList, HxField, 23, "field_list");

// A test on one named field: a negation flag, a sign and the values.
class HxFilter : public HxRecord<HxFilter> {
 public:
  HxFilter() = default;
  explicit HxFilter(HxString const& name) : name_(name) {}
  // One value, whose own leading sign character goes into that value's sign.
  HxFilter(HxString const& name, HxString const& value) : name_(name) { field_list_.append(new HxField(value)); }
  HxFilter(HxString const& name, HxString const& sign, HxString const& value) : HxFilter(name, value) {
    sign_ = sign;
  }

  int type() const override { return 20; }
  HxString typeXML() const override { return "filter"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "name", &HxFilter::name_), hx_field(3, "neg", &HxFilter::neg_),
                           hx_field(4, "fields", &HxFilter::field_list_), hx_field(5, "sign", &HxFilter::sign_));
  }

  HxString const& name() const { return name_; }
  void name(HxString const& name) { name_ = name; }
  unsigned char neg() const { return neg_; }
  void neg(unsigned char neg) { neg_ = neg; }
  HxString sign() const { return sign_; }
  void sign(HxString const& sign) { sign_ = sign; }
  HxFieldList& fields() { return field_list_; }
  HxFieldList const& fields() const { return field_list_; }

 private:
  HxString name_;
  unsigned char neg_ = 0;
  HxFieldList field_list_;
  HxString sign_ = "=";
};

HX_NAMED_LIST(HxFilterList, HxFilter, 21, "filter_list");

// A query: the selection, the names of the fields wanted, a limit and a sort
// order. The field names travel before the filters.
class HxQuery : public HxRecord<HxQuery> {
 public:
  int type() const override { return 24; }
  HxString typeXML() const override { return "query"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(2, "field_list", &HxQuery::field_list_),
                           hx_field(1, "filter_list", &HxQuery::filter_list_), hx_field(3, "limit", &HxQuery::limit_),
                           hx_field(4, "order_by", &HxQuery::order_by_));
  }

  HxFilterList& filters() { return filter_list_; }
  HxFilterList const& filters() const { return filter_list_; }
  HxFieldList& fields() { return field_list_; }
  HxFieldList const& fields() const { return field_list_; }
  int limit() const { return limit_; }
  void limit(int limit) { limit_ = limit; }
  HxString order_by() const { return order_by_; }
  void order_by(HxString const& order_by) { order_by_ = order_by; }

 private:
  HxFilterList filter_list_;
  HxFieldList field_list_;
  int limit_ = 0;
  HxString order_by_;
};

// An order to the workers its filters select: a lock text and an action.
// Copying an order copies its selection only: the lock text and action
// belong to the order they were set on (a copy-constructed order starts with
// an empty lock and action 0).
class HxOrder : public HxRecord<HxOrder> {
 public:
  HxOrder() = default;
  explicit HxOrder(int action) : action_(action) {}
  HxOrder(HxOrder const& other) : HxRecord<HxOrder>() { filter_list_.copy(other.filter_list_); }
  HxOrder& operator=(HxOrder const& other) {
    copy(other);
    return *this;
  }
  void copy(HxOrder const& other) { filter_list_.copy(other.filter_list_); }

  int type() const override { return 169; }
  HxString typeXML() const override { return "order"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "filter_list", &HxOrder::filter_list_), hx_field(2, "lock", &HxOrder::lock_),
                           hx_field(3, "action", &HxOrder::action_));
  }

  HxFilterList& filters() { return filter_list_; }
  HxFilterList const& filters() const { return filter_list_; }
  HxString const& lock() const { return lock_; }
  void lock(HxString const& lock) { lock_ = lock; }
  int action() const { return action_; }
  void action(int action) { action_ = action; }

 private:
  HxFilterList filter_list_;
  HxString lock_;
  int action_ = 0;
};

// A request on jobs or variables: a selection, jobs and variables named
// explicitly, a restrictions flag and a limit. Its XML tag is that of a list.
class HxOperation : public HxRecord<HxOperation> {
 public:
  int type() const override { return 132; }
  HxString typeXML() const override { return "operation_id_list"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "filter_list", &HxOperation::filter_list_),
                           hx_field(3, "job_id_list", &HxOperation::jobids_),
                           hx_field(2, "variable_id_list", &HxOperation::variableids_),
                           hx_field(5, "restrictions", &HxOperation::restrictions_),
                           hx_field(6, "limit", &HxOperation::limit_));
  }

  HxFilterList& filters() { return filter_list_; }
  HxFilterList const& filters() const { return filter_list_; }
  HxJobIdList& jobids() { return jobids_; }
  HxJobIdList const& jobids() const { return jobids_; }
  HxVariableIdList& variableids() { return variableids_; }
  HxVariableIdList const& variableids() const { return variableids_; }
  unsigned char restrictions() const { return restrictions_; }
  void restrictions(unsigned char on) { restrictions_ = on; }
  int limit() const { return limit_; }
  void limit(int limit) { limit_ = limit; }

 private:
  HxFilterList filter_list_;
  HxJobIdList jobids_;
  HxVariableIdList variableids_;
  unsigned char restrictions_ = 1;
  int limit_ = 0;
};
