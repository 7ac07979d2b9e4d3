#include "api/HxApiPrefs.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "api/HxApiState.h"
#include "core/HxError.h"
#include "tests/api/ApiExchange.h"

namespace {

using hxtest::Answer;
using hxtest::bytes_of;
using hxtest::joined;
using hxtest::S;

// Rows as "name=data;name=data|...".
std::string joined(HxDbRows const& rows) {
  std::string out;
  for (int r = 0; r < rows.length(); ++r) {
    out += r ? "|" : "";
    HxDbRow const* row = rows.get(r);
    for (int f = 0; f < row->length(); ++f)
      out += (f ? ";" : "") + S(row->get(f)->name()) + "=" + S(row->get(f)->data());
  }
  return out;
}

HxDbRows* two_rows() {
  auto* rows = new HxDbRows;
  for (char const* v : {"1", "2"}) {
    auto* row = new HxDbRow;
    row->append(new HxDbField("k", 1, v));
    rows->append(row);
  }
  return rows;
}

HxStringList* tag_values() {
  auto* l = new HxStringList;
  l->append(new HxString("red"));
  l->append(new HxString("blue"));
  return l;
}

HxPreference preference() {
  HxPreference p;
  p.type("ui");
  p.entity_path("/a");
  p.user("ann");
  p.mandate(1);
  return p;
}

// Reading and changing requests against each answer: the result, the
// caller's list (emptied first, then filled), the line, the API error (7:
// left alone; a line is the API error too), and the lent records given back
// as they were.
TEST(HxApiPrefs, RequestsAndOutcomes) {
  enum Call { kPrefs, kPipeline, kTags, kSet, kDelete };
  auto error_record = [] { return new HxError(2055); };
  struct Row {
    char const* name;
    Call call;
    Answer answer;
    int result;
    char const* out;  // rows or values afterwards
    int error;
    char const* err;
  } const rows[] = {
      {"prefs", kPrefs, {1, two_rows}, 1, "k=1|k=2", 7, ""},
      {"pipeline", kPipeline, {1, two_rows}, 1, "k=1|k=2", 7, ""},
      {"pipeline empty reply", kPipeline, {1, [] { return new HxDbRows; }}, 1, "", 7, ""},
      {"tags", kTags, {1, tag_values}, 1, "red|blue", 7, ""},
      {"tags unreachable", kTags, {1, {}, 530, false}, 0, "", 100000, "ERROR: unable to contact supervisor.\n"},
      {"tags error", kTags, {4, error_record}, 0, "", 2055, ""},
      {"tags old error", kTags, {4, [] { return new HxOldError("db down"); }}, 0, "", 100000, ""},
      {"tags foreign error", kTags, {4, tag_values}, 0, "", 2051, ""},
      {"tags blank", kTags, {1}, 0, "", 100000, "ERROR: data returned blank\n"},
      {"tags as rows", kTags, {1, two_rows}, 0, "", 100000, "ERROR: list object returned invalid. - 203\n"},
      {"prefs as values", kPrefs, {1, tag_values}, 0, "", 100000, "ERROR: list object returned invalid. - 55\n"},
      {"set", kSet, {1}, 1, nullptr, 7, ""},
      {"set refused", kSet, {3}, 1, nullptr, 7, ""},
      {"set error", kSet, {4, error_record}, 0, nullptr, 2055, ""},
      {"set unreachable", kSet, {1, {}, 530, false}, 0, nullptr, 100000, "ERROR: unable to contact supervisor.\n"},
      {"delete", kDelete, {1, tag_values}, 1, nullptr, 7, ""},
      {"delete old error", kDelete, {4, [] { return new HxOldError("no such"); }}, 0, nullptr, 100000, ""},
  };
  int const tags[] = {1501, 1504, 119, 1502, 1503};
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    hxtest::ApiWorld world;
    hxtest::ApiWorldGuard guard(world);
    _hx_set_error(7);
    HxPreference pref = preference();
    std::string const pref_bytes = bytes_of(pref);
    HxStringList names;
    if (row.call == kPipeline && row.result == 1 && row.out[0] != '\0') names.append(new HxString("SHOW"));
    HxDbRows got_rows;
    got_rows.append(new HxDbRow);
    HxStringList got_values;
    for (int i = 0; i < 5; ++i) got_values.append(new HxString("old"));
    auto x = hxtest::exchange(world, row.answer, [&] {
      switch (row.call) {
        case kPrefs:
          return hx_get_preferences(pref, got_rows);
        case kPipeline:
          return hx_get_pipeline_variables(names, got_rows);
        case kTags:
          return hxjobtagvalues("colour", got_values);
        case kSet:
          return hx_set_preference(pref);
        case kDelete:
          return hx_delete_preference(pref);
      }
      return -1;
    });
    EXPECT_EQ(x.result, row.result);
    EXPECT_EQ(x.err, row.err);
    EXPECT_EQ(hxerror().integervalue(), row.error);
    hxtest::expect_line_is_error(x.err);
    if (row.out != nullptr) {
      EXPECT_EQ(row.call == kTags ? joined(got_values) : joined(got_rows), row.out);
    }
    EXPECT_EQ(bytes_of(pref), pref_bytes);
    if (!row.answer.reachable) continue;
    ASSERT_EQ(x.requests.size(), 1u);
    HxMessage const& sent = *x.requests[0];
    EXPECT_EQ(sent.tag(), tags[row.call]);
    if (row.call == kTags) {
      auto const* l = dynamic_cast<HxStringList const*>(sent.content());
      ASSERT_NE(l, nullptr);
      EXPECT_EQ(joined(*l), "colour");
    } else if (row.call == kPipeline) {
      auto const* l = dynamic_cast<HxStringList const*>(sent.content());
      ASSERT_NE(l, nullptr);
      EXPECT_EQ(joined(*l), joined(names));
    } else {
      auto* p = dynamic_cast<HxPreference*>(sent.content());
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(bytes_of(*p), pref_bytes);
    }
  }
}

}  // namespace
