#include "config/HxDefaults.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/HxDebug.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;

// Collects what the debug log writes while it lives.
class LogCapture {
 public:
  LogCapture() { hx_debug_filename(log_.path(), 0); }
  ~LogCapture() { hx_debug_filename("", 0); }
  std::string text() const { return log_.read(); }

 private:
  hxtest::TempFile log_{"", "hxdefaults"};
};

TEST(HxDefaultsText, LiteralsAsTabled) {
  struct {
    int number;
    char const* text;
  } const cases[] = {
      {0, "/Applications/kmo/tarv"}, {1, "/etc/hx.conf"},        {101, "/etc/hx.conf"},
      {301, "/etc/hx.conf"},         {801, "/etc/hx.conf"},        {3, "/"},
      {8, "/var/spool/tarv"},        {111, "/var/spool/tarv"},     {9, "/var/spool/tarv/backup"},
      {13, "/var/log/supelog"},      {17, "cluster"},              {19, "/etc/hxwrk.conf"},
      {32, "/tmp"},                  {304, "/tmp"},                {406, "/tmp"},
      {114, "/var/log/workerlog"},   {117, "remote"},              {123, "local,supervisor"},
      {130, "\\"},                   {506, "Wr4!nKe9?"},           {611, "tarv"},
      {202, "3f9a0c2e7b15d84e6a0f2c9b71d3e58a04c6b2f9e1d7a3c58b0e4f2a6d9c1b73"},
  };
  for (auto const& c : cases) EXPECT_EQ(S(hx_default_string(c.number)), c.text) << c.number;
}

TEST(HxDefaultsText, UnknownNumbersWarnKnownEmptyOnesDoNot) {
  LogCapture log;
  for (int known_empty : {59, 70, 121, 503}) EXPECT_EQ(S(hx_default_string(known_empty)), "");
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(S(hx_default_string(800)), "");
  EXPECT_EQ(S(hx_default_string(613)), "");
  EXPECT_EQ(S(hx_default_string(-1)), "");
  std::string text = log.text();
  std::string lines[3];
  std::istringstream in(text);
  for (auto& l : lines) std::getline(in, l);
  EXPECT_NE(lines[0].find("]: WARNING: hx_default_string() unknown value[800]"), std::string::npos) << text;
  EXPECT_EQ(lines[0].back(), ']');
  EXPECT_NE(lines[1].find("]: WARNING: hx_default_string() unknown value[613]"), std::string::npos);
  EXPECT_NE(lines[2].find("]: WARNING: hx_default_string() unknown value[-1]"), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
}

TEST(HxDefaultsInt, AsTabledAndZeroOtherwise) {
  EXPECT_EQ(hx_default_int(120), 120);
  EXPECT_EQ(hx_default_int(56), -4353);
  EXPECT_EQ(hx_default_int(54), 0x081FFFF3);
  EXPECT_EQ(hx_default_int(10), 50001);
  EXPECT_EQ(hx_default_int(305), 8);
  EXPECT_EQ(hx_default_int(306), 600000);
  EXPECT_EQ(hx_default_int(701), 50002);
  EXPECT_EQ(hx_default_int(803), 5);
  EXPECT_EQ(hx_default_int(0), 0);
  EXPECT_EQ(hx_default_int(-5), 0);
  EXPECT_EQ(hx_default_int(107), 0);
}

TEST(HxDefaultsOem, DifferOnlyWhereTabled) {
  EXPECT_EQ(S(hx_oem_default_string(17)), "priority");
  EXPECT_EQ(S(hx_default_string(17)), "cluster");
  EXPECT_EQ(S(hx_oem_default_string(301)), "");
  EXPECT_EQ(S(hx_oem_default_string(801)), "");
  EXPECT_EQ(S(hx_oem_default_string(114)), "/var/log/workerlog");
  EXPECT_EQ(hx_oem_default_int(24), 4630);
  EXPECT_EQ(hx_oem_default_int(25), 720);
  EXPECT_EQ(hx_oem_default_int(22), 16);
  EXPECT_EQ(hx_oem_default_int(54), -1);
  EXPECT_EQ(hx_oem_default_int(107), 1);
}

// The installation directory only moves up in level.
TEST(HxDefaultsDir, MovesUpwardAndDirEntriesFollow) {
  _hx_default_reset_hxdir();
  EXPECT_EQ(S(hx_default_get_hxdir()), "/Applications/kmo/tarv");
  EXPECT_EQ(S(hx_default_string(302)), "/Applications/kmo/tarv/types:/Applications/kmo/jobtypes");
  EXPECT_EQ(S(hx_default_string(47)), "/Applications/kmo/tarv/public");
  hx_default_set_hxdir("", 4);
  hx_default_set_hxdir("/opt/x", 3);
  EXPECT_EQ(S(hx_default_get_hxdir()), "/opt/x");
  EXPECT_EQ(S(hx_default_string(0)), "/Applications/kmo/tarv");
  EXPECT_EQ(S(hx_default_string(47)), "/opt/x/public");
  EXPECT_EQ(S(hx_default_string(302)), "/opt/x/types:/opt/jobtypes");
  EXPECT_EQ(S(hx_default_string(112)), "/opt/x/types:/opt/jobtypes");
  EXPECT_EQ(S(hx_default_string(612)), "/opt/x/etc/notification.mail");
  hx_default_set_hxdir("/srv", 2);
  hx_default_set_hxdir("/srv", 3);
  EXPECT_EQ(S(hx_default_get_hxdir()), "/opt/x");
  hx_default_set_hxdir("/opt", 4);
  EXPECT_EQ(S(hx_default_string(402)), "/opt/types:/jobtypes");
  hx_default_set_hxdir("/srv", 4);
  EXPECT_EQ(S(hx_default_get_hxdir()), "/opt");
  _hx_default_reset_hxdir();
}

}  // namespace
