#include "config/HxFlags.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::string s(HxString const& text) { return text.value(); }
HxString h(char const* text) { return HxString(text); }

}  // namespace

TEST(HxFlagsToText, PrintOrderIsTheTableOrder) {
  EXPECT_EQ(s(hx_job_flag_string(0)), "0");
  EXPECT_EQ(s(hx_job_flag_string(0x80)), "0");
  EXPECT_EQ(s(hx_job_flag_string(0x88)), "auto_mount");
  EXPECT_EQ(s(hx_job_flag_string(0x61)), "uninterruptible,thrifty,expand");
  EXPECT_EQ(s(hx_job_flag_string(0x38)), "expand,auto_mount,export_environment");
  EXPECT_EQ(s(hx_worker_flag_string(3)), "dynamic,dedicated");
  EXPECT_EQ(s(hx_worker_flag_string(0x60)), "rotate_logs,ssl");
  EXPECT_EQ(s(hx_supervisor_flag_string(0xC00)), "running_monitor,stub_optimize");
  EXPECT_EQ(s(hx_supervisor_flag_string(0x60C)), "heartbeat_monitor,clone_logs,stub_optimize,rotate_logs");
  EXPECT_EQ(s(hx_permission_flag_string(0x10C000)), "retry,reset,requeue");
  EXPECT_EQ(s(hx_permission_flag_string(0x78000000)), "lock_host,sudo_admin,impersonate,admin");
  EXPECT_EQ(s(hx_client_flag_string(0xC0)), "ssl,restrict_domain");
  EXPECT_EQ(s(hx_database_flag_string(3)), "lazy,log_times");
  EXPECT_EQ(s(hx_supervisor_mode_flag_string(7)), "reject_submit,stop_activity,enforce_password");
  EXPECT_EQ(s(hx_supervisor_language_flag_string(0x41)), "tarv,auto_wrangling");
  EXPECT_EQ(s(hx_supervisor_log_flag_string(0x48)), "callback,mail");
  EXPECT_EQ(s(hx_supervisor_manifest_flag_string(6)), "subjob,work");
  EXPECT_EQ(s(hx_supelog_flag_string(0x500001)), "startup,info,file");
  EXPECT_EQ(s(hx_supelog_flag_string(0x200000)), "0");  // bit without a name
  // A negative value is read bit by bit.
  EXPECT_EQ(s(hx_database_flag_string(-1)), "lazy,log_times");
  EXPECT_EQ(s(hx_client_flag_string(INT_MIN)), "0");
}

TEST(HxFlagsToText, EveryTableRoundTripsItsWords) {
  for (int bit = 0; bit < 32; ++bit) {
    int v = static_cast<int>(1u << bit);
    HxString word = hx_permission_flag_string(v);
    EXPECT_EQ(hx_permission_flag_int(word), s(word) == "0" ? 0 : v) << bit;
    word = hx_supervisor_flag_string(v);
    EXPECT_EQ(hx_supervisor_flag_int(word), s(word) == "0" ? 0 : v) << bit;
    word = hx_job_flag_string(v);
    EXPECT_EQ(hx_job_flag_int(word), s(word) == "0" ? 0 : v) << bit;
    word = hx_worker_flag_string(v);
    EXPECT_EQ(hx_worker_flag_int(word), s(word) == "0" ? 0 : v) << bit;
    word = hx_supelog_flag_string(v);
    EXPECT_EQ(hx_supelog_flag_int(word), s(word) == "0" ? 0 : v) << bit;
  }
  EXPECT_EQ(hx_job_flag_int(hx_job_flag_string(0x7FF7F)), 0x7FF7F);
  EXPECT_EQ(hx_permission_flag_int(hx_permission_flag_string(-1)), 0x781FFFFF);
}

TEST(HxFlagsToText, TwoNamesForTheVerbosityTable) {
  for (int v : {0, 1, 0x2A5, 0x7FFFFF, -1, INT_MIN}) {
    EXPECT_EQ(s(hx_supelog_flag_string(v)), s(hx_supervisor_verbosity_string(v)));
  }
  EXPECT_EQ(hx_supervisor_verbosity_int(h("warning,auth")), 0x14000);
  EXPECT_EQ(hx_supelog_flag_int(h("warning,auth")), 0x14000);
}

TEST(HxFlagsFromText, WordsIntegersAndOddItems) {
  EXPECT_EQ(hx_job_flag_int(h("uninterruptable, mail")), 1025);
  EXPECT_EQ(hx_job_flag_int(h("uninterruptible,mail")), 1025);
  EXPECT_EQ(hx_job_flag_int(h("Mail")), 0);
  EXPECT_EQ(hx_job_flag_int(h("auto_mount mail")), 0);
  EXPECT_EQ(hx_job_flag_int(h("1,mail")), 1024);
  EXPECT_EQ(hx_job_flag_int(h("-12")), -12);
  EXPECT_EQ(hx_job_flag_int(h("-")), 0);
  EXPECT_EQ(hx_job_flag_int(h("0x10")), 0);
  EXPECT_EQ(hx_job_flag_int(h("")), 0);
  EXPECT_EQ(hx_job_flag_int(h("0128")), 128);
  EXPECT_EQ(hx_job_flag_int(h(" grid ,,'mail'")), 4);
  EXPECT_EQ(hx_worker_flag_int(h("uninterruptable")), 0);  // the alias is the job table's only
  EXPECT_EQ(hx_job_flag_int(h("99999999999")), INT_MAX);
  EXPECT_EQ(hx_job_flag_int(h("-99999999999")), INT_MIN);
}

TEST(HxFlagsFromText, RepeatedWordsNameTheirBitOnce) {
  EXPECT_EQ(hx_client_flag_int(h("ssl,ssl")), 0x40);
  EXPECT_EQ(hx_client_flag_int(h("ssl,restrict_domain,ssl")), 0xC0);
  EXPECT_EQ(hx_job_flag_int(h("uninterruptible,uninterruptable")), 1);
  EXPECT_EQ(hx_permission_flag_int(h("admin,admin")), 0x40000000);
}

TEST(HxFlagsFromText, JobFlagValidity) {
  EXPECT_TRUE(hx_job_flag_valid(h("")));
  EXPECT_TRUE(hx_job_flag_valid(h("0")));
  EXPECT_TRUE(hx_job_flag_valid(h("-")));
  EXPECT_TRUE(hx_job_flag_valid(h("1,mail")));
  EXPECT_TRUE(hx_job_flag_valid(h("uninterruptable,grid")));
  EXPECT_FALSE(hx_job_flag_valid(h("mail,bogus")));
  EXPECT_FALSE(hx_job_flag_valid(h("mail,0")));
  EXPECT_FALSE(hx_job_flag_valid(h("mail,-")));
  EXPECT_FALSE(hx_job_flag_valid(h("mail,,grid")));
  EXPECT_FALSE(hx_job_flag_valid(h("  ")));
}

TEST(HxFlagsEnumerations, TextsAndFallbacks) {
  EXPECT_EQ(s(hx_preempt_policy_string(static_cast<HxPreemptPolicy>(-1))), "default");
  EXPECT_EQ(s(hx_preempt_policy_string(kHxPreemptMixed)), "mixed");
  EXPECT_EQ(s(hx_preempt_policy_string(static_cast<HxPreemptPolicy>(4))), "");
  EXPECT_EQ(hx_preempt_policy_int(h("aggressive")), 2);
  EXPECT_EQ(hx_preempt_policy_int(h("default")), -1);
  EXPECT_EQ(hx_preempt_policy_int(h("Mixed")), 0);
  EXPECT_EQ(hx_preempt_policy_int(h("3")), 0);
  EXPECT_EQ(s(hx_smart_share_mode_string(kHxSmartShareJobs)), "jobs");
  EXPECT_EQ(s(hx_smart_share_mode_string(static_cast<HxSmartShareMode>(-1))), "");
  EXPECT_EQ(hx_smart_share_mode_int(h("jobs")), 1);
  EXPECT_EQ(hx_smart_share_mode_int(h("1")), 0);
  EXPECT_EQ(s(hx_worker_exec_mode_string(kHxWorkerExecDesktop)), "desktop");
  EXPECT_EQ(s(hx_worker_exec_mode_string(static_cast<HxWorkerExecMode>(2))), "unknown");
  EXPECT_EQ(hx_worker_exec_mode_int(h("unknown")), -1);
  EXPECT_EQ(hx_worker_exec_mode_int(h("service")), 0);
  EXPECT_EQ(hx_worker_exec_mode_int(h("")), -1);
}
