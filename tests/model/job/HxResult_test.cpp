#include "model/job/HxResult.h"

#include <gtest/gtest.h>

#include <vector>

#include "model/job/JobTestUtil.h"

namespace {

// The records of a fault, without the header, to be put together in any order.
char const kError[] =
    "00 01 00 04 00 00 00 AF 00 00 00 28"              // error (175)
    "  00 01 00 01 FF FF FF FF"                        //   number -1
    "  00 02 00 04 00 00 00 62 00 00 00 14"            //   values (98)
    "    00 01 00 04 00 00 00 38 00 00 00 08"          //     hash (56)
    "      00 01 00 01 00 00 00 00";                   //       empty
char const kJobIds[] = "00 02 00 04 00 00 00 12 00 00 00 08 00 01 00 01 00 00 00 00";  // empty (18)
char const kWorkIds[] =
    "00 03 00 04 00 00 00 3C 00 00 00 52"              // work ids (60)
    "  00 01 00 01 00 00 00 02"                        //   count 2
    "  00 0A 00 04 00 00 00 3B 00 00 00 19"            //   12:a
    "    00 01 00 01 00 00 00 0C 00 02 00 03 00 00 00 01 61 00 03 00 01 FF FF FF FF"
    "  00 0A 00 04 00 00 00 3B 00 00 00 19"            //   13:b
    "    00 01 00 01 00 00 00 0D 00 02 00 03 00 00 00 01 62 00 03 00 01 FF FF FF FF";
char const kHostnames[] =
    "00 03 00 04 00 00 00 40 00 00 00 2E"              // host names (64)
    "  00 01 00 01 00 00 00 01"                        //   count 1
    "  00 0A 00 04 00 00 00 3F 00 00 00 1A"            //   h1
    "    00 01 00 03 00 00 00 02 68 31 00 02 00 01 00 00 00 00 00 03 00 01 FF FF FF FF";
// Field 3 holding a list of another type (job ids, 18).
char const kOtherList[] = "00 03 00 04 00 00 00 12 00 00 00 08 00 01 00 01 00 00 00 00";

HxFault two_work_ids_one_host() {
  HxFault f;
  f.workids().append(new HxWorkId(12, "a"));
  f.workids().append(new HxWorkId(13, "b"));
  f.hostnames().append(new HxHostname("h1"));
  return f;
}

TEST(HxFaultDispatch, FieldThreeGoesToTheListWhoseTypeItCarries) {
  HxFault f = two_work_ids_one_host();
  std::string const head = hex("00 00 00 01");
  EXPECT_EQ(head + hex(kError) + hex(kJobIds) + hex(kWorkIds) + hex(kHostnames), packed(f));

  struct Row {
    char const* what;
    std::vector<char const*> records;
    int workids;
    int hostnames;
  } const rows[] = {
      {"work ids first", {kError, kJobIds, kWorkIds, kHostnames}, 2, 1},
      {"host names first", {kError, kHostnames, kJobIds, kWorkIds}, 2, 1},
      {"host names alone", {kHostnames}, 0, 1},
      {"twice each", {kWorkIds, kHostnames, kHostnames, kWorkIds}, 4, 2},
      // A list of any other type is offered to the first member of field 3,
      // which drops the rest of the fault.
      {"other type", {kError, kOtherList, kHostnames, kWorkIds}, 0, 0},
  };
  for (auto const& r : rows) {
    std::string bytes = head;
    for (char const* rec : r.records) bytes += hex(rec);
    HxFault back;
    EXPECT_EQ(0, unpack(back, bytes)) << r.what;
    EXPECT_EQ(back.workids().length(), r.workids) << r.what;
    EXPECT_EQ(back.hostnames().length(), r.hostnames) << r.what;
    if (r.workids == 2) {
      EXPECT_EQ(S(back.workids().get(1)->name()), "b") << r.what;
      EXPECT_EQ(S(back.hostnames().get(0)->host()), "h1") << r.what;
    }
  }
}

TEST(HxFaultDispatch, BothListsSurviveTheXMLFormAndNestingInAResult) {
  HxFault f = two_work_ids_one_host();
  f.error().value(7);
  f.jobids().append(new HxJobId(3));
  expect_round_trip(f);
  std::string const text = xml_of(f);
  EXPECT_LT(text.find("<work_id_list>"), text.find("<hostname_list>"));
  HxFault back;
  ASSERT_EQ(0, unpack_xml(back, text));
  EXPECT_EQ(back.workids().length(), 2);
  EXPECT_EQ(back.hostnames().length(), 1);

  // Host names ahead of work ids, as another writer may order them.
  HxFault swapped;
  ASSERT_EQ(0, unpack_xml(swapped,
                          "<version>1</version><object type = 'fault'>"
                          "<hostname_list><object type = 'host_name_list'><item><object type = 'host_name'>"
                          "<host>h1</host></object></item></object></hostname_list>"
                          "<work_id_list><object type = 'work_id_list'>"
                          "<item><object type = 'work_id'><id>12</id><name>a</name></object></item>"
                          "<item1><object type = 'work_id'><id>13</id><name>b</name></object></item1>"
                          "</object></work_id_list></object>"));
  ASSERT_EQ(swapped.workids().length(), 2);
  EXPECT_EQ(swapped.workids().get(1)->id(), 13);
  ASSERT_EQ(swapped.hostnames().length(), 1);
  EXPECT_EQ(S(swapped.hostnames().get(0)->host()), "h1");

  HxResult r;
  r.faults().append(new HxFault(f));
  r.faults().append(new HxFault());
  r.jobids().append(new HxJobId(1));
  r.workids().append(new HxWorkId(1, "w"));
  r.callbackids().append(new HxCallbackId());
  r.callbackids().get(0)->id(4);
  r.hostnames().append(new HxHostname("h2", 80));
  r.error().value(2);
  expect_round_trip(r);
  HxResult rb;
  ASSERT_EQ(0, unpack(rb, packed(r)));
  ASSERT_EQ(rb.faults().length(), 2);
  EXPECT_EQ(rb.faults().get(0)->workids().length(), 2);
  EXPECT_EQ(rb.faults().get(0)->hostnames().length(), 1);
}

TEST(HxResultBytes, FaultsTravelFirst) {
  HxResult r;
  EXPECT_EQ(hex("00 00 00 01"
                "00 03 00 04 00 00 00 BA 00 00 00 08 00 01 00 01 00 00 00 00"  // faults (186)
                "00 01 00 04 00 00 00 12 00 00 00 08 00 01 00 01 00 00 00 00"  // job ids (18)
                "00 02 00 04 00 00 00 3C 00 00 00 08 00 01 00 01 00 00 00 00"  // work ids (60)
                "00 04 00 04 00 00 00 AF 00 00 00 28 00 01 00 01 FF FF FF FF"  // error (175)
                "  00 02 00 04 00 00 00 62 00 00 00 14 00 01 00 04 00 00 00 38 00 00 00 08"
                "  00 01 00 01 00 00 00 00"
                "00 05 00 04 00 00 00 40 00 00 00 08 00 01 00 01 00 00 00 00"  // host names (64)
                "00 06 00 04 00 00 00 C6 00 00 00 08 00 01 00 01 00 00 00 00"),  // callback ids (198)
            packed(r));
}

void fill(HxResult& r, int base) {
  r.faults().append(new HxFault());
  r.jobids().append(new HxJobId(base));
  r.jobids().append(new HxJobId(base + 1));
  r.workids().append(new HxWorkId(base, "w"));
  r.callbackids().append(new HxCallbackId());
  r.hostnames().append(new HxHostname("h"));
  r.error().value(base);
}

TEST(HxResultSteal, TakesTheElementsAndCopiesTheError) {
  HxResult mine, theirs;
  fill(mine, 100);
  fill(theirs, 200);
  theirs.jobids().append(new HxJobId(202));
  HxJobId* first = theirs.jobids().get(0);
  HxFault* fault = theirs.faults().get(0);
  mine.steal(theirs);
  EXPECT_EQ(theirs.faults().length() + theirs.jobids().length() + theirs.workids().length() +
                theirs.callbackids().length() + theirs.hostnames().length(),
            0);
  ASSERT_EQ(mine.jobids().length(), 3);
  EXPECT_EQ(mine.jobids().get(0), first);
  EXPECT_EQ(mine.jobids().get(2)->id(), 202);
  EXPECT_EQ(mine.faults().get(0), fault);
  EXPECT_EQ(mine.workids().length(), 1);
  EXPECT_EQ(mine.callbackids().length(), 1);
  EXPECT_EQ(mine.hostnames().length(), 1);
  EXPECT_EQ(mine.error().integervalue(), 200);
  EXPECT_EQ(theirs.error().integervalue(), 200);

  HxResult empty;
  mine.steal(empty);
  EXPECT_EQ(mine.jobids().length() + mine.faults().length() + mine.hostnames().length(), 0);
  EXPECT_EQ(mine.error().integervalue(), -1);

  HxResult self;
  fill(self, 5);
  std::string const before = packed(self);
  self.steal(self);
  self.copy(self);
  EXPECT_EQ(packed(self), before);
  HxFaultList faults;
  faults.append(new HxFault());
  faults.steal(faults);
  EXPECT_EQ(faults.length(), 1);
}

TEST(HxResultCopy, ReplacesEveryListAndTheError) {
  HxResult source, target;
  fill(source, 10);
  fill(target, 20);
  target.jobids().append(new HxJobId(99));
  for (int how = 0; how < 3; ++how) {
    HxResult t(target);
    if (how == 0) t.copy(source);
    if (how == 1) t = source;
    HxResult made(source);
    HxResult& got = how == 2 ? made : t;
    EXPECT_EQ(packed(got), packed(source)) << how;
    EXPECT_NE(got.jobids().get(0), source.jobids().get(0)) << how;
  }
  HxFault fault = two_work_ids_one_host();
  HxFault copy;
  copy.copy(fault);
  EXPECT_EQ(packed(copy), packed(fault));
}

}  // namespace
