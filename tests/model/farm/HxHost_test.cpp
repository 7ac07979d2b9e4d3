#include "model/farm/HxHost.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "model/farm/HxResource.h"
#include "model/job/JobTestUtil.h"

namespace {

// The used count of one resource of a host's text; INT_MIN when missing.
int used_of(HxHost const& h, char const* key) {
  HxResourceHash hash;
  hash.revert(h.resources());
  HxResource const* r = hash.get(key);
  return r == nullptr ? INT_MIN : r->used();
}

HxJob job_reserving(char const* text) {
  HxJob job;
  job.reservations(HxString(text));
  return job;
}

HxSubjob instance_with(char const* allocations) {
  HxSubjob sub;
  sub.allocations(HxString(allocations));
  return sub;
}

}  // namespace

// ---- version ---------------------------------------------------------------------

TEST(HxHostVersion, DerivedFromTheVersionProperty) {
  struct Row {
    char const* properties;
    char const* version;
    int major, minor;
  } const rows[] = {
      {"host.tarv_version=8.1-0", "8.1-0", 8, 1},
      {"host.tarv_version=7", "7", 7, 0},
      {"host.site=north", "7", 7, 0},  // no version property: the last one stays
      {"host.tarv_version=9.2.5,host.site=north", "9.2.5", 9, 2},
      {"global.tarv_version=3.3", "9.2.5", 9, 2},
      {"", "9.2.5", 9, 2},
      {"host.tarv_version=10.x-beta", "10.x-beta", 10, 0},
      {"host.tarv_version=-1.2", "-1.2", 0, 0},
      {"host.tarv_version='4.5 rc'", "4.5 rc", 4, 5},
      {"host.tarv_version=99999999999.99999999999", "99999999999.99999999999", INT_MAX, INT_MAX},
      {"host.tarv_version=", "", 0, 0},
  };
  HxHost h;
  EXPECT_EQ(h.majorver(), 0);
  EXPECT_EQ(h.minorver(), 0);
  for (auto const& r : rows) {
    h.properties(HxString(r.properties));
    EXPECT_EQ(S(h.properties()), r.properties);
    EXPECT_EQ(S(h.version()), r.version) << r.properties;
    EXPECT_EQ(h.majorver(), r.major) << r.properties;
    EXPECT_EQ(h.minorver(), r.minor) << r.properties;
    EXPECT_EQ(h.pointver(), 0) << r.properties;
    EXPECT_EQ(S(h.patchver()), "") << r.properties;
  }
}

TEST(HxHostVersion, DerivedAfterCopyAndDecodeNeverCopiedAsSuch) {
  HxHost source;
  source.name("w1");
  source.properties("host.tarv_version=8.1-0");
  source.recontact(5);
  source.requeue(6);

  HxHost copied(source), assigned, binary, fromxml;
  assigned = source;
  ASSERT_EQ(unpack(binary, packed(source)), 0);
  ASSERT_EQ(unpack_xml(fromxml, xml_of(source)), 0);
  for (HxHost const* h : {&copied, &assigned, &binary, &fromxml}) {
    EXPECT_EQ(S(h->version()), "8.1-0");
    EXPECT_EQ(h->majorver(), 8);
    EXPECT_EQ(h->minorver(), 1);
    EXPECT_EQ(S(h->name()), "w1");
  }
  EXPECT_EQ(copied.recontact(), 5);
  EXPECT_EQ(assigned.requeue(), 6);
  EXPECT_EQ(binary.recontact(), 0);  // not on the wire

  // A source whose version outlived its property passes on only the text.
  source.properties("host.site=north");
  HxHost later;
  later.properties("host.tarv_version=2.3");
  later.copy(source);
  EXPECT_EQ(S(later.version()), "2.3");
  EXPECT_EQ(S(later.properties()), "host.site=north");
  HxHost fresh(source);
  EXPECT_EQ(S(fresh.version()), "");
  EXPECT_EQ(fresh.majorver(), 0);
}

// ---- record forms -----------------------------------------------------------------

TEST(HxHostPack, FieldsInTableOrder) {
  HxHost h;
  h.name("w");
  h.state(HxState(257));
  h.flags(3);
  h.properties("host.tarv_version=8.1-0");
  h.lastupdate(HxTime(7));
  EXPECT_EQ(packed(h), hex("00 00 00 01"
                           "00 02 00 03 00 00 00 01 77"                          // name
                           "00 03 00 04 00 00 00 0D 00 00 00 08 00 01 00 01 00 00 00 00"  // address
                           "00 05 00 03 00 00 00 00"                             // cluster
                           "00 06 00 04 00 00 00 08 00 00 00 08 00 01 00 01 00 00 01 01"  // state
                           "00 07 00 03 00 00 00 00"                             // resources
                           "00 0C 00 01 00 00 00 03"                             // flags
                           "00 0D 00 03 00 00 00 17"
                           "68 6F 73 74 2E 74 61 72 76 5F 76 65 72 73 69 6F 6E 3D 38 2E 31 2D 30"  // properties
                           "00 0E 00 03 00 00 00 00"                             // stats
                           "00 0F 00 03 00 00 00 00"                             // restrictions
                           "00 10 00 03 00 00 00 00"                             // groups
                           "00 11 00 04 00 00 00 06 00 00 00 08 00 01 00 01 00 00 00 00"  // subjobs
                           "00 12 00 03 00 00 00 00"                             // locks
                           "00 13 00 03 00 00 00 00"                             // reason
                           "00 14 00 03 00 00 00 00"                             // description
                           "00 15 00 04 00 00 00 9B 00 00 00 08 00 01 00 03 00 00 00 00"  // mac address
                           "00 16 00 03 00 00 00 00"                             // job types
                           "00 17 00 04 00 00 00 21 00 00 00 08 00 01 00 01 00 00 00 07"));  // last update

  std::string x = xml_of(h);
  std::vector<std::string> names;
  for (size_t at = x.find("\n\t<"); at != std::string::npos; at = x.find("\n\t<", at + 1)) {
    size_t end = x.find('>', at);
    std::string name = x.substr(at + 3, end - at - 3);
    if (name[0] != '/') names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"name", "address", "cluster", "state", "resources", "flags",
                                             "properties", "stats", "restrictions", "groups", "subjobs", "locks",
                                             "reason", "description", "mac_address", "job_types", "last_update"}));
  EXPECT_NE(x.find("\t<state>\n\t\t<object type = 'state'>\n\t\t\t<value>257</value>"), std::string::npos) << x;
}

TEST(HxHostPack, ListOfHostsWithSubjobsRoundTrips) {
  HxHostList list;
  for (int i = 0; i < 3; ++i) {
    HxHost* h = new HxHost();
    h->name(HxString("w") + i);
    h->resources("host.processors=1/8,global.lic=0/2");
    h->properties(HxString("host.tarv_version=") + (i + 7) + ".4-1,host.site='north, east'");
    h->macaddress(HxMacAddress(HxString("00:11:22:33:44:5") + i));
    h->flagsstring("dedicated,ssl");
    for (int j = 0; j < i; ++j) {
      HxSubjob* sub = new HxSubjob();
      sub->id(j);
      sub->host(h->name());
      h->subjobs().append(sub);
    }
    list.append(h);
  }
  HxHostList binary, fromxml, copied;
  ASSERT_EQ(unpack(binary, packed(list)), 0);
  ASSERT_EQ(unpack_xml(fromxml, xml_of(list)), 0);
  copied.copy(list);
  for (HxHostList const* l : {&binary, &fromxml, &copied}) {
    ASSERT_EQ(l->length(), 3);
    for (int i = 0; i < 3; ++i) {
      HxHost const* h = l->get(i);
      EXPECT_EQ(S(h->name()), "w" + std::to_string(i));
      EXPECT_EQ(h->majorver(), i + 7);
      EXPECT_EQ(h->minorver(), 4);
      EXPECT_EQ(h->flags(), 0x21);
      EXPECT_EQ(S(h->flagsstring()), S(list.get(i)->flagsstring()));
      EXPECT_EQ(S(h->macaddress().value()), "00:11:22:33:44:5" + std::to_string(i));
      ASSERT_EQ(h->subjobs().length(), i);
      if (i == 2) {
        EXPECT_EQ(h->subjobs().get(1)->id(), 1);
      }
    }
  }
  EXPECT_EQ(list.type(), 12);
  EXPECT_EQ(S(list.typeXML()), "host_list");
}

// ---- booking ------------------------------------------------------------------------

TEST(HxHostBooking, AcceptThenRelease) {
  struct Row {
    char const* resources;
    char const* reservations;
    char const* allocations;
    char const* key;
    int after_accept, after_release;
  } const rows[] = {
      {"host.processors=0/4", "host.processors=2", "", "host.processors", 2, 0},
      {"host.processors=0/4", "host.processors=1+", "host.processors=3", "host.processors", 4, 1},
      {"host.processors=0/8", "host.processors=1+2", "host.processors=2", "host.processors", 2, 0},
      {"host.processors=0/4", "host.processors=all", "host.processors=4", "host.processors", 4, 0},
      {"host.processors=0/4", "host.processors=1+", "", "host.processors", 4, 4},  // the instance holds none
      {"host.processors=0/4,global.lic=1/3", "global.lic=1", "", "global.lic", 2, 2},
      {"host.processors=0/4,global.lic=1/3", "global.lic=1", "", "host.processors", 0, 0},
      {"scoped.s=0/2,scopedlicense.l=0/2", "scoped.s=1,scopedlicense.l=2", "", "scoped.s", 1, 0},
      {"scoped.s=0/2,scopedlicense.l=0/2", "scoped.s=1,scopedlicense.l=2", "", "scopedlicense.l", 2, 0},
      {"license.l=0/2,host.mem=0/16", "license.l=1,host.mem=4,host.gpu=1", "", "license.l", 1, 1},
      {"license.l=0/2,host.mem=0/16", "license.l=1,host.mem=4,host.gpu=1", "", "host.mem", 4, 0},
      {"host.processors=2147483647/2147483647", "host.processors=5", "", "host.processors", INT_MAX,
       2147483647 - 5},
  };
  for (auto const& r : rows) {
    HxHost h;
    h.resources(HxString(r.resources));
    HxJob job = job_reserving(r.reservations);
    h.accept(job);
    EXPECT_EQ(used_of(h, r.key), r.after_accept) << r.resources << " / " << r.reservations;
    h.release(job, instance_with(r.allocations));
    EXPECT_EQ(used_of(h, r.key), r.after_release) << r.resources << " / " << r.reservations;
  }

  // Both rewrite the text: an item that gave only a total comes back with used 0.
  HxHost h;
  h.resources("host.processors=4");
  h.accept(job_reserving("global.lic=1"));
  EXPECT_EQ(S(h.resources()), "host.processors=0/4");
  h.resources("host.processors=0/4");
  h.accept(job_reserving("host.processors=2"));
  EXPECT_EQ(S(h.resources()), "host.processors=2/4");
  h.release(job_reserving("host.processors=2"), HxSubjob());
  EXPECT_EQ(S(h.resources()), "host.processors=0/4");
}
