#include "config/HxParams.h"

#include <gtest/gtest.h>

#include <string>

#include "config/HxConfig.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;

std::string flags(char const* name, char const* value) { return S(hx_flags_to_string_or_integer(name, value)); }
std::string param(char const* name, char const* value) { return S(hx_conf_param_to_string_or_integer(name, value)); }

std::string display(char const* text) {
  HxConfig config;
  config.parse(HxString(text));
  testing::internal::CaptureStdout();
  hxdisplayconfig(config);
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(HxParamsFlags, ConvertsNumbersToWordsAndWordsToNumbers) {
  EXPECT_EQ(flags("client_flags", "192"), "ssl,restrict_domain");
  EXPECT_EQ(flags("client_flags", "restrict_domain,ssl"), "192");
  EXPECT_EQ(flags("client_flags", "0"), "0");
  EXPECT_EQ(flags("client_flags", ""), "0");
  EXPECT_EQ(flags("supervisor_verbosity", "3"), "startup,work");
  EXPECT_EQ(flags("supelog_flags", "startup,work"), "3");
  EXPECT_EQ(flags("worker_flags", "3"), "dynamic,dedicated");
  EXPECT_EQ(flags("job_flags", "uninterruptable,mail"), "1025");
  EXPECT_EQ(flags("supervisor_default_group_security", "1"), "submit_job");
  EXPECT_EQ(flags("database_flags", "-"), "0");
}

TEST(HxParamsFlags, UnknownNamesGiveNothing) {
  EXPECT_EQ(flags("client_timeout", "3"), "");
  EXPECT_EQ(flags("Client_flags", "3"), "");
  EXPECT_EQ(flags("client_flags ", "ssl"), "");
  EXPECT_EQ(flags("", ""), "");
}

TEST(HxParamsAny, FlagEnumerationAndPlainParameters) {
  EXPECT_EQ(param("client_timeout", "600000"), "600000");
  EXPECT_EQ(param("client_timeout", "ten"), "ten");
  EXPECT_EQ(param("my_flags", "5"), "");
  EXPECT_EQ(param("worker_flags", "dynamic"), "2");
  EXPECT_EQ(param("supervisor_default_security", "3"), "submit_job,submit_callback");
  EXPECT_EQ(param("supervisor_preempt_policy", "-1"), "default");
  EXPECT_EQ(param("supervisor_preempt_policy", "7"), "");
  EXPECT_EQ(param("supervisor_preempt_policy", "-2"), "");
  EXPECT_EQ(param("supervisor_preempt_policy", "aggressive"), "2");
  EXPECT_EQ(param("supervisor_preempt_policy", "Aggressive"), "0");
  EXPECT_EQ(param("supervisor_smart_share_preempt_policy", "3"), "mixed");
  EXPECT_EQ(param("supervisor_smart_share_mode", "jobs"), "1");
  EXPECT_EQ(param("supervisor_smart_share_mode", "0"), "none");
  EXPECT_EQ(param("supervisor_smart_share_mode", "2"), "");
  EXPECT_EQ(param("supervisor_smart_share_mode", "-2147483648"), "");
}

TEST(HxParamsCompare, EmptySortsFirstThenBytes) {
  HxString empty(""), a("a"), b("b"), upper("B");
  EXPECT_EQ(hx_cmp_strings(&empty, &a), -1);
  EXPECT_EQ(hx_cmp_strings(&a, &empty), 1);
  EXPECT_EQ(hx_cmp_strings(&b, &a), 1);
  EXPECT_EQ(hx_cmp_strings(&upper, &a), -1);
  EXPECT_EQ(hx_cmp_strings(&a, &a), 0);
}

TEST(HxParamsDisplay, PrintsSortedLinesWithTheOtherForm) {
  EXPECT_EQ(display("worker_flags = 3\nsupervisor_port = 50001\nclient_job_flags = mail\n"),
            "items: 3\n"
            "0: client_job_flags=mail (1024)\n"
            "1: supervisor_port=50001\n"
            "2: worker_flags=3 (dynamic,dedicated)\n");
  EXPECT_EQ(display(""), "items: 0\n");
}

TEST(HxParamsDisplay, ZeroEmptyAndOutOfRangeValues) {
  EXPECT_EQ(display("worker_flags = 0\nclient_flags =\nsupervisor_preempt_policy = 7\nmy_flags = x\n"),
            "items: 4\n"
            "0: client_flags= (0)\n"
            "1: my_flags=x ()\n"
            "2: supervisor_preempt_policy=7 ()\n"
            "3: worker_flags=0\n");
}
