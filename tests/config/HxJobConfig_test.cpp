#include "config/HxJobConfig.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "core/HxFile.h"
#include "core/HxWorld.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;

// A world without a client configuration file, so that only the test's
// directories and the built-in ones are searched.
class NoFileWorld : public HxWorld {
 public:
  HxString clientConfigPath() override { return "/nonexistent/hx.conf"; }
};

class HxJobConfigTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.empty());
    hx_set_world(&world_);
    char const* v = getenv("HXPATH");
    had_path_ = v != nullptr;
    saved_path_ = v ? v : "";
    unsetenv("HXPATH");
  }
  void TearDown() override {
    hx_set_world(nullptr);
    if (had_path_) setenv("HXPATH", saved_path_.c_str(), 1);
    else unsetenv("HXPATH");
  }
  // Makes root/dir/type, with a job.conf holding conf unless conf is null.
  std::string type(std::string const& dir, std::string const& name, char const* conf) {
    std::string d = root_ + "/" + dir;
    mkdir(d.c_str(), 0755);
    std::string t = d + "/" + name;
    mkdir(t.c_str(), 0755);
    if (conf != nullptr) std::ofstream(t + "/job.conf") << conf;
    return t;
  }
  std::string dir(std::string const& name) { return root_ + "/" + name; }
  bool valid(char const* conf) {
    type("v", "t", conf);
    return HxJobConfig("t", dir("v").c_str()).valid();
  }

  hxtest::TempDir tmp_{"hxjob"};
  std::string root_ = tmp_.path();
  NoFileWorld world_;
  bool had_path_ = false;
  std::string saved_path_;
};

}  // namespace

TEST_F(HxJobConfigTest, MinimumVersionAtOrBelowTheLibrary) {
  EXPECT_TRUE(valid("minimum_tarv_version = 8.0\n"));
  EXPECT_TRUE(valid("minimum_tarv_version = 8.1\n"));
  EXPECT_FALSE(valid("minimum_tarv_version = 8.2\n"));
  EXPECT_FALSE(valid("minimum_tarv_version = 9\n"));
  EXPECT_TRUE(valid("minimum_tarv_version = 8.1.2\n"));
  EXPECT_TRUE(valid("minimum_tarv_version = new\n"));
}

TEST_F(HxJobConfigTest, RequiredVersionEqualToTheLibrary) {
  EXPECT_TRUE(valid("required_tarv_version = 8.1\n"));
  EXPECT_TRUE(valid("required_tarv_version = 8.10\n"));
  EXPECT_FALSE(valid("required_tarv_version = 8.0\n"));
  EXPECT_FALSE(valid("required_tarv_version = 8.2\n"));
  EXPECT_TRUE(valid("required_tarv_version = 8.1.2\n"));
  EXPECT_TRUE(valid(""));
}

TEST_F(HxJobConfigTest, SettingsAreReadEvenWhenAVersionRuleFails) {
  std::string t = type("a", "t", "required_tarv_version = 9\ndetail = \"A type\"\nversion = 2\n");
  HxJobConfig c("t", dir("a").c_str());
  EXPECT_FALSE(c.valid());
  EXPECT_EQ(S(c.detail()), "A type");
  EXPECT_EQ(S(c.version()), "2");
  EXPECT_EQ(S(c.required_tarv_version()), "9");
  EXPECT_EQ(S(c.jobtype()), t);
}

TEST_F(HxJobConfigTest, OsxBindingsPairWithTheirOwnLibraries) {
  std::string t = type("a", "t",
                       "execute_binding_osx = eo\nexecute_library_osx = lib/eo\n"
                       "execute_binding = ep\nexecute_library = lib/ep\n"
                       "gui_submit_binding = gs\ngui_submit_library_osx = /abs/osx\ngui_submit_library = gsl\n"
                       "gui_job_display_binding_osx = jd\n"
                       "gui_subjob_display_binding = sd\ngui_subjob_display_library = /s/d\n");
  HxJobConfig c("t", dir("a").c_str());
  ASSERT_TRUE(c.valid());
  EXPECT_EQ(S(c.execute_binding()), "eo");
  EXPECT_EQ(S(c.execute_library()), t + "/lib/eo");
  EXPECT_EQ(S(c.gui_submit_binding()), "gs");
  EXPECT_EQ(S(c.gui_submit_library()), t + "/gsl");
  EXPECT_EQ(S(c.gui_job_display_binding()), "jd");
  EXPECT_EQ(S(c.gui_job_display_library()), "");
  EXPECT_EQ(S(c.gui_subjob_display_binding()), "sd");
  EXPECT_EQ(S(c.gui_subjob_display_library()), "/s/d");
}

TEST_F(HxJobConfigTest, LibrariesResolveAgainstTheTypeDirectory) {
  std::string t = type("a", "t", "callback_library = lib/cb\ngui_icon = /icons/t.png\nsubmit_library = s.py\n");
  HxJobConfig c("t", dir("a").c_str());
  EXPECT_EQ(S(c.callback_library()), t + "/lib/cb");
  EXPECT_EQ(S(c.gui_icon()), "/icons/t.png");
  EXPECT_EQ(S(c.option("submit_library", 0)), "s.py");
  EXPECT_EQ(S(c.option("submit_library", 1)), t + "/s.py");
  EXPECT_EQ(S(c.option("display_library", 1)), "");
  EXPECT_EQ(S(hx_job_config_resolve_path("/d/", "x")), "/d/x");
  EXPECT_EQ(S(hx_job_config_resolve_path("/d", "C:/x")), "C:/x");
  EXPECT_EQ(S(hx_job_config_resolve_path("/d", "")), "");
}

TEST_F(HxJobConfigTest, JobDefaultsStayText) {
  type("a", "t",
       "job_priority = 50\njob_cluster = /c\njob_requirements = r\njob_restrictions = rs\njob_reservations = "
       "host.processors=1\njob_kind = k\njob_label = l\njob_account = ac\njob_hosts = h1\njob_groups = g\n"
       "job_flags = mail\njob_cpus = 2\njob_name = n\njob_status = blocked\nshort_detail = sd\n");
  HxJobConfig c("t", dir("a").c_str());
  std::string all = S(c.job_priority()) + "|" + S(c.job_cluster()) + "|" + S(c.job_requirements()) + "|" +
                    S(c.job_restrictions()) + "|" + S(c.job_reservations()) + "|" + S(c.job_kind()) + "|" +
                    S(c.job_label()) + "|" + S(c.job_account()) + "|" + S(c.job_hosts()) + "|" +
                    S(c.job_groups()) + "|" + S(c.job_flags()) + "|" + S(c.job_cpus()) + "|" + S(c.job_name()) +
                    "|" + S(c.job_status()) + "|" + S(c.short_detail());
  EXPECT_EQ(all, "50|/c|r|rs|host.processors=1|k|l|ac|h1|g|mail|2|n|blocked|sd");
  EXPECT_EQ(c.type(), 76);
}

TEST_F(HxJobConfigTest, FirstDirectoryHoldingTheTypeWins) {
  type("a", "t", "detail = A\n");
  type("b", "t", "detail = B\n");
  setenv("HXPATH", (dir("a") + ":" + dir("b")).c_str(), 1);
  HxJobConfig c(HxString("t"));
  EXPECT_TRUE(c.valid());
  EXPECT_EQ(S(c.detail()), "A");
  EXPECT_EQ(S(c.path()).rfind(dir("a") + ":" + dir("b") + ":", 0), 0u);

  std::remove((dir("a") + "/t/job.conf").c_str());
  HxJobConfig without(HxString("t"));
  EXPECT_FALSE(without.valid());
  EXPECT_EQ(S(without.detail()), "");
  EXPECT_EQ(S(without.jobtype()), "t");
}

TEST_F(HxJobConfigTest, OnlyDirectoriesOfTheExactNameCount) {
  mkdir(dir("a").c_str(), 0755);
  std::ofstream(dir("a") + "/t") << "a file";
  type("a", "T", "detail = upper\n");
  type("b", "t", "detail = B\n");
  HxJobConfig c("t", (":" + dir("missing") + "::" + dir("a") + ":" + dir("b")).c_str());
  EXPECT_EQ(S(c.detail()), "B");
  HxJobConfig unknown("nothing", dir("a").c_str());
  EXPECT_FALSE(unknown.valid());
  EXPECT_EQ(S(unknown.jobtype()), "nothing");
}

TEST_F(HxJobConfigTest, DotNamesAndPathsAreNeverTypes) {
  std::ofstream(root_ + "/job.conf") << "detail = parent\n";
  type("a", "t", "detail = A\n");
  EXPECT_FALSE(HxJobConfig("..", dir("a").c_str()).valid());
  EXPECT_FALSE(HxJobConfig(".", root_.c_str()).valid());
  EXPECT_FALSE(HxJobConfig("a/t", root_.c_str()).valid());
  EXPECT_FALSE(HxJobConfig("", dir("a").c_str()).valid());
}

TEST_F(HxJobConfigTest, AvailableListsEachValidTypeOnce) {
  type("a", "one", "detail = 1\n");
  type("a", "two", nullptr);
  type("a", ".hidden", "detail = h\n");
  type("a", "old", "required_tarv_version = 7\n");
  type("b", "one", "detail = again\n");
  type("b", "two", "detail = later\n");
  type("b", "three", "");
  std::ofstream(dir("b") + "/plain") << "x";
  setenv("HXPATH", dir("a").c_str(), 1);
  HxStringList list;
  list.append(new HxString("kept"));
  HxJobConfig::available(dir("b").c_str(), list);
  std::vector<std::string> names;
  for (int i = 0; i < list.length(); ++i) names.push_back(S(*list.get(i)));
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names[0], "kept");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"kept", "one", "three"}));
}
