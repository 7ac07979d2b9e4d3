#include <clocale>
#include <string>
#include <vector>

#include "api/ApiTestUtil.h"
#include "model/farm/HxPreference.h"
#include "tests/python/PyTestUtil.h"

namespace {

using hxtest::py_exec;
using hxtest::py_repr;

using PyPrefs = hxtest::PyModuleTest;

std::string fields(HxPreference const* p) {
  if (p == nullptr) return "<none>";
  std::string out;
  for (HxString const& s : {p->preftype(), p->entity_path(), p->entity_value(), p->tier(), p->preset(), p->user()})
    out += std::string(s.value(), s.length()) + "|";
  return out + std::to_string(p->mandate());
}

// What each call sends (request type and preference fields) and returns;
// wrong counts send nothing.
TEST_F(PyPrefs, SetAndDeleteSendOnePreference) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  std::atomic<int> tag{1};
  hxtest::FakeFarm farm(world, [&](HxMessage&, HxMessage& reply) { return hxtest::answer(reply, tag.load()); });
  ASSERT_TRUE(farm.ok());
  struct Row {
    int tag;
    char const* call;
    char const* result;
    int type;  // 0: nothing sent
    char const* sent;
  } const rows[] = {
      {1, "_hx.setpreference('t', 'p', 'v', 'ti', 'pr', 'u', True)", "True", 1502, "t|p|v|ti|pr|u|1"},
      {3, "_hx.setpreference('t', 'p', 'v', 'ti', 'pr', 'u', 1)", "True", 1502, "t|p|v|ti|pr|u|0"},
      {4, "_hx.setpreference('t', 'p', 'v', 'ti', 'pr', '', None)", "False", 1502, "t|p|v|ti|pr||0"},
      {1, "_hx.setpreference('t', 'p', 'v', 'ti', 'pr', 'u')", "None", 0, ""},
      {1, "_hx.setpreference('t', 'p', 'v', 'ti', 'pr', 'u', True, 1)", "None", 0, ""},
      {1, "_hx.setpreference('t', 'p', 5, 'ti', 'pr', 'u', True)", "<error TypeError", 0, ""},
      {1, "_hx.deletepreference('t', 'p', 'ti', 'pr', 'u')", "True", 1503, "t|p||ti|pr|u|0"},
      {4, "_hx.deletepreference('t', 'p', 'ti', 'pr', 'u')", "False", 1503, "t|p||ti|pr|u|0"},
      {1, "_hx.deletepreference('t', 'p', 'ti', 'pr')", "None", 0, ""},
      {1, "_hx.deletepreference('t', 'p', 'ti', 'pr', None)", "<error TypeError", 0, ""},
  };
  size_t seen = 0;
  for (auto const& r : rows) {
    tag = r.tag;
    std::string got = py_repr(r.call);
    EXPECT_EQ(got.substr(0, std::strlen(r.result)), r.result) << r.call;
    auto requests = farm.requests();
    if (r.type == 0) {
      EXPECT_EQ(requests.size(), seen) << r.call;
      continue;
    }
    ASSERT_EQ(requests.size(), seen + 1) << r.call;
    seen = requests.size();
    HxMessage const& m = *requests.back();
    EXPECT_EQ(m.tag(), r.type);
    EXPECT_EQ(fields(dynamic_cast<HxPreference const*>(m.content())), r.sent) << r.call;
  }
}

HxDbRows* pipeline_rows() {
  struct F {
    char const* name;
    int type;
    char const* data;
  };
  std::vector<std::vector<F>> const table = {
      {{"hex", 10002, "0x10"},
       {"dec", 10002, " -12 "},
       {"bad", 10002, "abc"},
       {"f", 10003, "1.5"},
       {"fx", 10003, "2.5e1 m"},
       {"fz", 10003, "none"},
       {"b1", 10004, "true"},
       {"b2", 10004, "False"},
       {"b3", 10004, "1"},
       {"b4", 10004, ""},
       {"s", 7, "x\xff"}},
      {},
      {{"k", 1, "a"}, {"k", 1, "b"}},
  };
  auto* rows = new HxDbRows;
  for (auto const& fs : table) {
    auto* row = new HxDbRow;
    for (F const& f : fs) row->append(new HxDbField(f.name, f.type, f.data));
    rows->append(row);
  }
  return rows;
}

// Each data type becomes its Python value; the names asked for are the
// str items of the list only.
TEST_F(PyPrefs, PipelineVariables) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  std::atomic<bool> answer{true};
  hxtest::FakeFarm farm(world, [&](HxMessage& request, HxMessage& reply) {
    if (!answer) return false;
    return hxtest::answer(reply, request.tag() == 1504 ? 1 : 3, pipeline_rows());
  });
  ASSERT_TRUE(farm.ok());
  std::string const want =
      "[{'hex': 16, 'dec': -12, 'bad': 'abc', 'f': 1.5, 'fx': 25.0, 'fz': 0.0, 'b1': True, 'b2': False, "
      "'b3': False, 'b4': False, 's': 'x\\ufffd'}, {}, {'k': 'b'}]";
  EXPECT_EQ(py_repr("_hx.getpipelinevariables(['a', 1, None, 'b'])"), want);
  EXPECT_EQ(py_repr("_hx.getpipelinevariables()"), want);
  EXPECT_EQ(py_repr("_hx.getpipelinevariables(None)"), want);
  auto requests = farm.requests();
  ASSERT_EQ(requests.size(), 3u);
  std::vector<std::string> const names[] = {{"a", "b"}, {}, {}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(requests[i]->tag(), 1504);
    auto const* list = dynamic_cast<HxStringList const*>(requests[i]->content());
    std::vector<std::string> got;
    for (int j = 0; list != nullptr && j < list->length(); ++j) got.push_back(list->get(j)->value());
    EXPECT_EQ(got, names[i]);
  }
  EXPECT_EQ(py_repr("_hx.getpipelinevariables('ab')"),
            "<error TypeError: argument to hx.getpipelinevariables() must be a list of names>");
  EXPECT_EQ(py_repr("_hx.getpipelinevariables(('a',))").substr(0, 16), "<error TypeError");
  EXPECT_EQ(farm.requests().size(), 3u);
  answer = false;
  EXPECT_EQ(py_repr("_hx.getpipelinevariables()"), "<error OSError: unable to retrieve pipeline variables>");
}

// A float field reads the same whatever decimal mark the process locale
// uses.
TEST_F(PyPrefs, FloatFieldIgnoresTheLocale) {
  char const* comma = nullptr;
  for (char const* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"})
    if (std::setlocale(LC_NUMERIC, name) != nullptr) {
      comma = name;
      break;
    }
  if (comma == nullptr) GTEST_SKIP() << "no locale with a decimal comma is installed";
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeFarm farm(world, [](HxMessage&, HxMessage& reply) { return hxtest::answer(reply, 1, pipeline_rows()); });
  std::string got = py_repr("_hx.getpipelinevariables()[0]['f']");
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(got, "1.5");
}

}  // namespace
