#include "model/farm/HxPreference.h"

#include <climits>

HxDataTable& HxDataTable::operator=(HxDataTable const& o) {
  if (&o == this) return *this;
  collabels_.copy(o.collabels_);
  rowlabels_.copy(o.rowlabels_);
  data_.copy(o.data_);
  title_ = o.title_;
  return *this;
}

HxString HxDataTable::key_(HxString const& row, HxString const& col) {
  HxString key(row);
  key += ':';
  key += col;
  return key;
}

HxString const& HxDataTable::data(HxString const& row, HxString const& col) const {
  HxString const* cell = data_.get(key_(row, col));
  return cell != nullptr ? *cell : blank_;
}

void HxDataTable::data(HxString const& row, HxString const& col, HxString const& value) {
  HxString const key = key_(row, col);
  if (HxString* cell = data_.get(key)) {
    *cell = value;
    return;
  }
  if (collabels_.get(col) == nullptr) collabels_.set(new HxString(col), col);
  if (rowlabels_.get(row) == nullptr) rowlabels_.set(new HxString(row), row);
  data_.set(new HxString(value), key);
}

void HxDataTable::add(HxString const& row, HxString const& col, int n) {
  // In 64 bits: a received cell may hold any int.
  long long sum = static_cast<long long>(n) + data(row, col).integervalue();
  if (sum > INT_MAX) sum = INT_MAX;
  if (sum < INT_MIN) sum = INT_MIN;
  data(row, col, HxString(static_cast<int>(sum)));
}

void HxDataTable::labels_(HxStringHash const& hash, HxStringList& list) {
  for (int s = 0; s < hash.size(); ++s)
    if (HxString* key = hash._key(s)) list.append(new HxString(*key));
}

void HxDataTable::rowlabels(HxStringList& list) const { labels_(rowlabels_, list); }

void HxDataTable::collabels(HxStringList& list) const { labels_(collabels_, list); }
