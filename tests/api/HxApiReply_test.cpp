#include "api/HxApiReply.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ApiTestUtil.h"
#include "api/HxApiRoad.h"
#include "api/HxApiState.h"
#include "config/HxConfig.h"
#include "model/farm/HxAdmin.h"
#include "model/farm/HxHost.h"
#include "model/job/HxJob.h"
#include "model/job/HxResult.h"

using hxtest::packed;
using hxtest::redeclared;
using hxtest::S;
using hxtest::unpack_into;

namespace {

// Any earlier failure the road must leave alone when it writes no error.
constexpr int kSentinel = 7777;

HxJobList* jobs(std::vector<char const*> names) {
  auto* l = new HxJobList;
  for (char const* n : names) {
    auto* j = new HxJob;
    j->name(n);
    l->append(j);
  }
  return l;
}

HxError* error_record() {
  auto* e = new HxError(2040);
  e->set("ERROR", "quota");
  return e;
}

std::string error_record_text() {
  std::unique_ptr<HxError> e(error_record());
  return S(e->value());
}

// A reply as the peer sends it: tag and content packed, the declared
// content type optionally changed on the wire, then read back.
struct Wire {
  int tag;
  std::function<HxPack*()> content;
  int declare_from = 0, declare_to = 0;
};

void make_reply(Wire const& w, HxMessage& reply) {
  HxMessage m(w.tag);
  if (w.content) m.content(w.content());
  std::string bytes = packed(m);
  if (w.declare_from != 0) bytes = redeclared(bytes, w.declare_from, w.declare_to);
  unpack_into(reply, bytes);
}

std::vector<std::string> names(HxJobList const& l) {
  std::vector<std::string> out;
  for (int i = 0; i < l.length(); ++i) out.push_back(S(l.get(i)->name()));
  return out;
}

struct Outcome {
  int result;
  std::string err;  // standard error
  int error;        // API error number afterwards
  std::string error_text;
};

Outcome run(std::function<int()> const& call) {
  _hx_set_error(kSentinel);
  testing::internal::CaptureStderr();
  int r = call();
  Outcome o{r, testing::internal::GetCapturedStderr(), hxerror().integervalue(), S(hxerror().value())};
  return o;
}

}  // namespace

TEST(HxApiReply, ListFamilies) {
  std::string const sentinel_text = S(HxError(kSentinel).value());
  struct Row {
    char const* what;
    char family;  // 'L' or 'N'
    Wire wire;
    int result;
    std::vector<std::string> after;  // the caller's list, which held "old"
    std::string err;
    int error;
    std::string error_text;
  } const rows[] = {
      {"jobs", 'L', {1, [] { return jobs({"a", "b"}); }}, 1, {"old", "a", "b"}, "", kSentinel, sentinel_text},
      {"empty list", 'L', {1, [] { return jobs({}); }}, 1, {"old"}, "", kSentinel, sentinel_text},
      {"tag 3 is no error to L", 'L', {3, [] { return jobs({"c"}); }}, 1, {"old", "c"}, "", kSentinel, sentinel_text},
      {"old error", 'L', {4, [] { return new HxOldError("disk full"); }}, 0, {"old"}, "", 100000, "disk full"},
      {"error record", 'L', {4, error_record}, 0, {"old"}, "", 2040, error_record_text()},
      {"error without content", 'L', {4, nullptr}, 0, {"old"}, "", 2051, "unspecifed error"},
      {"error of another class", 'L', {4, [] { return jobs({"x"}); }}, 0, {"old"}, "", 2051, "unspecifed error"},
      {"declared 52 over a job list", 'L', {4, [] { return jobs({"x"}); }, 5, 52}, 0, {"old"}, "", 2051,
       "unspecifed error"},
      {"declared 175 over a job list", 'L', {4, [] { return jobs({"x"}); }, 5, 175}, 0, {"old"}, "", 2051,
       "unspecifed error"},
      // A failure's line is also the API error, without its "ERROR: ".
      {"blank", 'L', {1, nullptr}, 0, {"old"}, "ERROR: data returned blank\n", 100000, "data returned blank"},
      {"hosts for jobs", 'L', {1, [] { return new HxHostList; }}, 0, {"old"},
       "ERROR: list object returned invalid. - 12\n", 100000, "list object returned invalid. - 12"},
      {"jobs declared as 52", 'L', {1, [] { return jobs({"x"}); }, 5, 52}, 0, {"old"},
       "ERROR: list object returned invalid. - 52\n", 100000, "list object returned invalid. - 52"},
      {"jobs declared as hosts", 'L', {1, [] { return jobs({"x"}); }, 5, 12}, 0, {"old"},
       "ERROR: list object returned invalid. - 12\n", 100000, "list object returned invalid. - 12"},
      {"N: jobs", 'N', {1, [] { return jobs({"a"}); }}, 1, {"old", "a"}, "", kSentinel, sentinel_text},
      {"N: old error", 'N', {4, [] { return new HxOldError("disk full"); }}, 0, {"old"},
       "ERROR: list object returned invalid. - 52\n", 100000, "list object returned invalid. - 52"},
      {"N: error without content", 'N', {4, nullptr}, 0, {"old"}, "ERROR: data returned blank\n", 100000,
       "data returned blank"},
  };
  for (auto const& r : rows) {
    HxMessage reply;
    make_reply(r.wire, reply);
    HxJobList mine;
    HxJob* old = new HxJob;
    old->name("old");
    mine.append(old);
    // The elements that arrive are moved: the caller ends up with the very
    // objects the reply held.
    std::vector<HxJob*> arrived;
    if (auto* l = dynamic_cast<HxJobList*>(reply.content()))
      for (int i = 0; i < l->length(); ++i) arrived.push_back(l->get(i));
    Outcome o = run([&] { return r.family == 'L' ? _hx_reply_L(reply, mine) : _hx_reply_N(reply, mine); });
    EXPECT_EQ(o.result, r.result) << r.what;
    EXPECT_EQ(names(mine), r.after) << r.what;
    EXPECT_EQ(o.err, r.err) << r.what;
    EXPECT_EQ(o.error, r.error) << r.what;
    EXPECT_EQ(o.error_text, r.error_text) << r.what;
    EXPECT_EQ(mine.get(0), old) << r.what;
    if (r.result == 1) {
      for (size_t i = 0; i < arrived.size(); ++i) EXPECT_EQ(mine.get(static_cast<int>(i) + 1), arrived[i]) << r.what;
      EXPECT_EQ(dynamic_cast<HxJobList*>(reply.content())->length(), 0) << r.what;
    }
  }
}

// A null element ends the move: it and whatever follows stay with the reply
// and are freed with it (checked for leaks and double frees by ASan).
TEST(HxApiReply, NullElementEndsTheMove) {
  struct Row {
    std::vector<char const*> items;  // null: a missing element
    std::vector<std::string> moved;
    int left;
  } const rows[] = {
      {{"a", nullptr, "c"}, {"a"}, 2},
      {{nullptr, "b"}, {}, 2},
      {{"a", "b", nullptr}, {"a", "b"}, 1},
      {{"a", "b"}, {"a", "b"}, 0},
  };
  for (auto const& r : rows) {
    auto* l = new HxJobList;
    for (char const* n : r.items) {
      HxJob* j = nullptr;
      if (n != nullptr) {
        j = new HxJob;
        j->name(n);
      }
      l->append(j);
    }
    HxMessage reply(1);
    reply.content(l);
    HxJobList mine;
    EXPECT_EQ(_hx_reply_L(reply, mine), 1);
    EXPECT_EQ(names(mine), r.moved);
    EXPECT_EQ(l->length(), r.left);
    if (r.left > 0) {
      EXPECT_EQ(l->get(0), nullptr);
    }
  }
}

// A caller's list that cannot grow part way through a move: the elements
// moved so far belong to it, the rest stay with the reply, none to both (so
// that destroying both frees each once), and the failure goes on to the
// caller. Run in a child whose address space is bounded.
TEST(HxApiReply, MoveKeepsOneOwnerWhenTheListCannotGrow) {
  if (hxtest::kShadowMemory) GTEST_SKIP() << "no address-space limit under a sanitizer";
  // Made before the limit: room for one more element, after which the
  // list needs an array of 64 MB (larger than any block earlier tests of
  // this process may have left free).
  HxJobList mine;
  for (int i = 0; i < (1 << 22) - 2; ++i) mine.append(nullptr);
  int const held = mine.length();
  std::unique_ptr<HxJobList> theirs(jobs({"a", "b", "c"}));
  HxJob* const first = theirs->get(0);
  int const code = hxtest::run_with_memory_limit(8u << 20, [&] {
    bool thrown = false;
    try {
      _hx_move_elements(*theirs, mine);
    } catch (std::bad_alloc const&) {
      thrown = true;
    }
    bool const owned_once = mine.length() == held + 1 && mine.get(held) == first && theirs->length() == 2 &&
                            S(theirs->get(0)->name()) == "b" && S(theirs->get(1)->name()) == "c";
    return thrown && owned_once ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
}

TEST(HxApiReply, RecordFamily) {
  std::string const sentinel_text = S(HxError(kSentinel).value());
  auto config = [] {
    auto* c = new HxConfig;
    c->option("client_timeout", "99");
    return c;
  };
  struct Row {
    char const* what;
    Wire wire;
    HxReplyObject object;
    int result;
    std::string option;  // the caller's record afterwards
    std::string err;
    int error;
  } const rows[] = {
      {"config", {1, config}, HxReplyObject::kConfig, 1, "99", "", kSentinel},
      {"old error", {4, [] { return new HxOldError("no"); }}, HxReplyObject::kConfig, 0, "1", "", 100000},
      {"no content", {1, nullptr}, HxReplyObject::kConfig, 0, "1", "ERROR: data returned blank\n", 100000},
      {"another record", {1, [] { return new HxResult; }}, HxReplyObject::kConfig, 0, "1",
       "ERROR: config object returned invalid. - 188\n", 100000},
      {"config declared as a result", {1, config, 50, 188}, HxReplyObject::kReport, 0, "1",
       "ERROR: report object returned invalid. - 188\n", 100000},
      {"result word", {1, [] { return new HxJobList; }}, HxReplyObject::kResult, 0, "1",
       "ERROR: result object returned invalid. - 5\n", 100000},
      {"list word", {1, [] { return new HxJobList; }}, HxReplyObject::kList, 0, "1",
       "ERROR: list object returned invalid. - 5\n", 100000},
  };
  for (auto const& r : rows) {
    HxMessage reply;
    make_reply(r.wire, reply);
    HxConfig mine;
    mine.option("client_timeout", "1");
    Outcome o = run([&] { return _hx_reply_R(reply, mine, r.object); });
    EXPECT_EQ(o.result, r.result) << r.what;
    EXPECT_EQ(S(mine.option("client_timeout")), r.option) << r.what;
    EXPECT_EQ(o.err, r.err) << r.what;
    EXPECT_EQ(o.error, r.error) << r.what;
  }
  // A derived record is not the record asked for.
  HxMessage reply(1);
  reply.content(new HxAdminResult);
  HxResult result;
  Outcome o = run([&] { return _hx_reply_R(reply, result, HxReplyObject::kResult); });
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.err, "ERROR: result object returned invalid. - 190\n");
}

TEST(HxApiReply, AcknowledgedFamilies) {
  struct Row {
    int tag;
    bool error_content;
    int a3, a3_error;
    int a4, a4_error;  // captured
    int a4_plain_error;  // not captured
    int a1;
  } const rows[] = {
      {1, false, 1, kSentinel, 1, kSentinel, kSentinel, 1},
      {3, false, 0, 2054, 1, kSentinel, kSentinel, 0},
      {4, false, 1, kSentinel, 0, 2051, kSentinel, 0},
      {4, true, 1, kSentinel, 0, 100000, kSentinel, 0},
      {7, false, 1, kSentinel, 1, kSentinel, kSentinel, 0},
      {203, false, 1, kSentinel, 1, kSentinel, kSentinel, 0},
  };
  for (auto const& r : rows) {
    HxMessage reply;
    make_reply({r.tag, r.error_content ? std::function<HxPack*()>([] { return new HxOldError("x"); }) : nullptr},
               reply);
    Outcome a3 = run([&] { return _hx_reply_A3(reply); });
    EXPECT_EQ(a3.result, r.a3) << r.tag;
    EXPECT_EQ(a3.error, r.a3_error) << r.tag;
    Outcome a4 = run([&] { return _hx_reply_A4(reply, true); });
    EXPECT_EQ(a4.result, r.a4) << r.tag;
    EXPECT_EQ(a4.error, r.a4_error) << r.tag;
    Outcome a4_plain = run([&] { return _hx_reply_A4(reply, false); });
    EXPECT_EQ(a4_plain.result, r.a4) << r.tag;
    EXPECT_EQ(a4_plain.error, r.a4_plain_error) << r.tag;
    Outcome a1 = run([&] { return _hx_reply_A1(reply); });
    EXPECT_EQ(a1.result, r.a1) << r.tag;
    EXPECT_EQ(a1.error, kSentinel) << r.tag;
    for (Outcome const* o : {&a3, &a4, &a4_plain, &a1}) EXPECT_EQ(o->err, "") << r.tag;
  }
}

// The lent object is back with its owner after the guard, also when the
// request is destroyed first thing afterwards (ASan sees any double free).
TEST(HxApiReply, LentContentComesBack) {
  HxJobList mine;
  mine.append(new HxJob);
  {
    HxMessage request(100);
    HxLentContent lend(request, mine);
    EXPECT_EQ(request.content(), &mine);
    EXPECT_EQ(request.contenttype(), 5);
  }
  EXPECT_EQ(mine.length(), 1);
}
