#include "config/HxEnv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/HxTime.h"
#include "tests/TestUtil.h"

namespace {

using hxtest::S;

std::string joined(HxStringList const& list) {
  std::string out;
  for (int i = 0; i < list.length(); ++i) out += (i ? "|" : "") + S(*list.get(i));
  return out;
}

HxEnv sample() {
  HxEnv env;
  env.set_mask(18);
  env.set_cwd("/tmp");
  env.mount("Z:", "joe:pw@//srv/share");
  env.set("A", "1");
  return env;
}

TEST(HxEnvCapture, SettingVariablesWhileOtherThreadsReadLocalTimes) {
  // setEnv may move and free the environment table while mktime reads "TZ"
  // from it; both go through one lock, so neither side crashes and every
  // parse still sees the zone. A small table moves at almost every new
  // name, and its old block is soon handed out again: each round starts
  // from an empty environment.
  std::vector<std::string> saved;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) saved.emplace_back(*e);
  std::atomic<bool> wrong{false};
  for (int round = 0; round < 40 && !wrong; ++round) {
    ::clearenv();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    std::atomic<int> writing{2};
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w)
      threads.emplace_back([w, &writing] {
        for (int i = 0; i < 200; ++i)
          HxEnv::setEnv(HxString(("HX_RACE_" + std::to_string(w) + "_" + std::to_string(i)).c_str()), "x");
        writing.fetch_sub(1);
      });
    for (int r = 0; r < 6; ++r)
      threads.emplace_back([r, &wrong, &writing] {
        for (int i = 0; writing.load() > 0; ++i) {
          HxTime t;
          t.ascii("Mar 3, 2024 9:05:07");
          if (t.unixvalue() != 1709456707) wrong = true;
          if (r == 0 && i % 16 == 0 && S(HxEnv::valueEnv("TZ")) != "UTC") wrong = true;
        }
      });
    for (auto& t : threads) t.join();
    EXPECT_EQ(S(HxEnv::valueEnv("HX_RACE_1_199")), "x");
    // setEnv's buffers belong to the environment for good: they stay
    // reachable here when the table is emptied.
    static auto* kept = new std::vector<char*>();
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
      if (std::strncmp(*e, "HX_RACE_", 8) == 0) kept->push_back(*e);
  }
  EXPECT_FALSE(wrong.load());
  ::clearenv();
  for (std::string const& entry : saved) {
    size_t eq = entry.find('=');
    if (eq != std::string::npos) ::setenv(entry.substr(0, eq).c_str(), entry.c_str() + eq + 1, 1);
  }
  ::tzset();
}

}  // namespace

// ---- text form ---------------------------------------------------------------

TEST(HxEnvText, ConvertWritesMaskInOctalThenCwdMountsAndVariables) {
  EXPECT_EQ(S(sample().convert()), "umask=22\ncwd=/tmp\ndrivemap=Z:|joe:pw@//srv/share\nA=1");
  EXPECT_EQ(S(HxEnv().convert()), "umask=0\ncwd=");
}

TEST(HxEnvText, RevertOfConvertGivesTheSameEnvironment) {
  HxEnv back;
  back.revert(sample().convert());
  EXPECT_EQ(back.mask(), 18);
  EXPECT_EQ(S(back.cwd()), "/tmp");
  EXPECT_EQ(S(back.mount("Z:")), "joe:pw@//srv/share");
  EXPECT_EQ(joined(back.keys()), "A");
  EXPECT_EQ(joined(back.values()), "1");
  EXPECT_EQ(S(back.convert()), S(sample().convert()));
}

TEST(HxEnvText, OnlyTheFirstMaskAndCwdLinesAreSpecial) {
  HxEnv env;
  env.revert(HxString("umask=027\ncwd=/a\numask=7\ncwd=/b\nX=y"));
  EXPECT_EQ(env.mask(), 027);
  EXPECT_EQ(S(env.cwd()), "/a");
  EXPECT_EQ(joined(env.keys()), "umask|cwd|X");
  EXPECT_EQ(joined(env.values()), "7|/b|y");
}

TEST(HxEnvText, MaskThatIsNotANumberReadsZero) {
  HxEnv env;
  env.set_mask(5);
  env.revert(HxString("umask=rwx"));
  EXPECT_EQ(env.mask(), 0);
}

TEST(HxEnvText, LineStartingWithEqualsStopsTheParse) {
  HxEnv env;
  env.revert(HxString("A=1\n=oops\nB=2"));
  EXPECT_EQ(joined(env.keys()), "A");
}

TEST(HxEnvText, LineWithoutEqualsBecomesTheFrontOfTheNextName) {
  HxEnv env;
  env.revert(HxString("junk\nB=2"));
  ASSERT_EQ(env.keys().length(), 1);
  EXPECT_EQ(S(*env.keys().get(0)), "junk\nB");
  EXPECT_EQ(S(*env.values().get(0)), "2");
  HxEnv tail;
  tail.revert(HxString("A=1\nlast"));
  EXPECT_EQ(joined(tail.keys()), "A|last");
  EXPECT_EQ(S(tail.value("last")), "");
}

TEST(HxEnvText, ExportedShellFunctionKeepsItsBody) {
  HxEnv env;
  env.revert(HxString("F=() {  echo a;\n echo b\n}\nG=2"));
  EXPECT_EQ(joined(env.keys()), "F|G");
  EXPECT_EQ(S(env.value("F")), "() {  echo a;\n echo b\n}");
  EXPECT_EQ(S(env.value("G")), "2");
  // An unclosed body takes the rest of the text.
  HxEnv open;
  open.revert(HxString("F=() { x\nG=2"));
  EXPECT_EQ(joined(open.keys()), "F");
  EXPECT_EQ(S(open.value("F")), "() { x\nG=2");
}

TEST(HxEnvText, DrivemapLinesAddMountsAndCutAtASecondBar) {
  HxEnv env;
  env.revert(HxString("drivemap=Y:|a@b|junk\ndrivemap=Y:|c@d\ndrivemap=W:"));
  EXPECT_EQ(env.mountcount(), 2);
  EXPECT_EQ(S(env.mount("Y:")), "c@d");
  HxString u, p, share;
  EXPECT_TRUE(env.mount("W:", u, p, share));
  EXPECT_EQ(S(share), "");
}

TEST(HxEnvText, RevertAddsToWhatIsHeldAndIgnoresEmptyInput) {
  HxEnv env = sample();
  env.revert(HxString("A=2"));
  env.revert(nullptr, 5);
  env.revert("B=1", 0);
  EXPECT_EQ(joined(env.keys()), "A|A");
  EXPECT_EQ(S(env.value("A")), "1");
}

// ---- variables -----------------------------------------------------------------

TEST(HxEnvVariables, SetReplacesTheFirstOccurrenceAndValueReadsIt) {
  HxEnv env;
  env.revert(HxString("A=1\nA=2"));
  env.set("A", "3");
  EXPECT_EQ(joined(env.values()), "3|2");
  EXPECT_EQ(S(env.value("A")), "3");
  env.set("B", "4");
  EXPECT_EQ(joined(env.keys()), "A|A|B");
  EXPECT_TRUE(env.exists("B"));
  EXPECT_FALSE(env.exists("b"));
  EXPECT_EQ(S(env.value("missing")), "");
}

TEST(HxEnvVariables, ClearAndModifyTouchOnlyTheVariables) {
  HxEnv env = sample();
  HxEnv other;
  other.set("Q", "9");
  env.modify(other);
  EXPECT_EQ(joined(env.keys()), "Q");
  EXPECT_EQ(env.mask(), 18);
  EXPECT_EQ(env.mountcount(), 1);
  env.clear();
  EXPECT_EQ(env.keys().length(), 0);
  EXPECT_EQ(env.values().length(), 0);
  EXPECT_EQ(S(env.cwd()), "/tmp");
}

TEST(HxEnvVariables, CopiesAreDeep) {
  HxEnv a = sample();
  HxEnv b(a);
  HxEnv c;
  c = a;
  a.set("A", "changed");
  a.mount("Z:", "other");
  EXPECT_EQ(S(b.value("A")), "1");
  EXPECT_EQ(S(c.mount("Z:")), "joe:pw@//srv/share");
  c.copy(c);
  EXPECT_EQ(S(c.value("A")), "1");
}

// ---- mounts --------------------------------------------------------------------

TEST(HxEnvMounts, SplitsTheSpecIntoUserPasswordAndShare) {
  HxString u, p, s;
  HxEnv::_mountsplit("joe:secret@//srv/share", u, p, s);
  EXPECT_EQ(S(u) + "," + S(p) + "," + S(s), "joe,secret,//srv/share");
  HxString u2, p2, s2;
  HxEnv::_mountsplit("//srv/share", u2, p2, s2);
  EXPECT_EQ(S(u2) + "," + S(p2) + "," + S(s2), ",,//srv/share");
  HxString u3, p3, s3;
  HxEnv::_mountsplit("joe@srv", u3, p3, s3);
  EXPECT_EQ(S(u3) + "," + S(p3) + "," + S(s3), "joe,,srv");
  HxString u4, p4, s4;
  HxEnv::_mountsplit("joe:p@ss@srv", u4, p4, s4);
  EXPECT_EQ(S(u4) + "," + S(p4) + "," + S(s4), "joe,p,ss@srv");
}

TEST(HxEnvMounts, MountOfAnUnknownDriveIsFalse) {
  HxEnv env = sample();
  HxString u, p, s;
  EXPECT_FALSE(env.mount("Q:", u, p, s));
  EXPECT_TRUE(env.mount("Z:", u, p, s));
  EXPECT_EQ(S(u) + "," + S(p) + "," + S(s), "joe,pw,//srv/share");
  EXPECT_EQ(S(env.mount("Q:")), "");
}

TEST(HxEnvMounts, MountmapReadsLinesAndDriveOnlyLines) {
  HxEnv env;
  env.mountmap(HxString("X:|a@b|extra\nY:\n"));
  EXPECT_EQ(env.mountcount(), 2);
  EXPECT_EQ(S(env.mount("X:")), "a@b");
  EXPECT_EQ(S(env.mount("Y:")), "");
  env.mountmap("Q:|z", 0);
  EXPECT_EQ(env.mountcount(), 2);
  HxStringList drives;
  drives.append(new HxString("keep"));
  env.mounts(drives);
  EXPECT_EQ(drives.length(), 3);
  EXPECT_EQ(S(*drives.get(0)), "keep");
  env.mountclear();
  EXPECT_EQ(env.mountcount(), 0);
  HxStringList none;
  env.mounts(none);
  EXPECT_EQ(none.length(), 0);
}

// ---- record forms --------------------------------------------------------------

TEST(HxEnvRecord, EncodesFieldsInOrderAsNestedListsAndHash) {
  HxEnv env;
  env.set("A", "1");
  env.set_mask(18);
  env.set_cwd("/t");
  env.pack();
  std::string const want(
      "\x00\x00\x00\x01"
      "\x00\x01\x00\x04\x00\x00\x00\x37\x00\x00\x00\x11"
      "\x00\x01\x00\x01\x00\x00\x00\x01\x00\x0a\x00\x03\x00\x00\x00\x01"
      "A"
      "\x00\x02\x00\x04\x00\x00\x00\x37\x00\x00\x00\x11"
      "\x00\x01\x00\x01\x00\x00\x00\x01\x00\x0a\x00\x03\x00\x00\x00\x01"
      "1"
      "\x00\x03\x00\x01\x00\x00\x00\x12"
      "\x00\x04\x00\x03\x00\x00\x00\x02/t"
      "\x00\x05\x00\x04\x00\x00\x00\x38\x00\x00\x00\x08"
      "\x00\x01\x00\x01\x00\x00\x00\x00",
      100);
  EXPECT_EQ(std::string(env.packContents(), static_cast<size_t>(env.packSize())), want);
  HxEnv back;
  EXPECT_EQ(back.unpack(want.data(), static_cast<int>(want.size())), 0);
  EXPECT_EQ(S(back.convert()), "umask=22\ncwd=/t\nA=1");
}

TEST(HxEnvRecord, BinaryAndXmlRoundTrips) {
  HxEnv env = sample();
  env.set("B", "two words & <more>");
  env.pack();
  HxEnv bin;
  ASSERT_EQ(bin.unpack(env.packContents(), env.packSize()), 0);
  EXPECT_EQ(S(bin.convert()), S(env.convert()));
  env.packXML();
  std::string xml = "<pack>\n" + std::string(env.packContents(), static_cast<size_t>(env.packSize())) + "\n</pack>";
  EXPECT_NE(xml.find("<umask>18</umask>"), std::string::npos);
  HxEnv fromXml;
  ASSERT_EQ(fromXml.unpackXML(xml.data(), static_cast<int>(xml.size())), 0);
  EXPECT_EQ(S(fromXml.convert()), S(env.convert()));
}

TEST(HxEnvRecord, ListsOfDifferentLengthsFromARecordStaySafe) {
  HxEnv odd;
  odd.keys().append(new HxString("A"));
  odd.keys().append(new HxString("B"));
  odd.values().append(new HxString("1"));
  odd.pack();
  HxEnv back;
  ASSERT_EQ(back.unpack(odd.packContents(), odd.packSize()), 0);
  EXPECT_EQ(S(back.value("B")), "");
  EXPECT_EQ(S(back.convert()), "umask=0\ncwd=\nA=1\nB=");
  back.set("B", "2");
  back.set("C", "3");
  EXPECT_EQ(S(back.value("B")), "2");
  EXPECT_EQ(S(back.value("C")), "3");
  EXPECT_EQ(back.keys().length(), back.values().length());
}

TEST(HxEnvRecord, TruncatedRecordsNeverReadPastTheEnd) {
  HxEnv env = sample();
  env.pack();
  std::string bytes(env.packContents(), static_cast<size_t>(env.packSize()));
  for (size_t n = 0; n < bytes.size(); ++n) {
    HxEnv back;
    back.unpack(bytes.data(), static_cast<int>(n));
    back.convert();
  }
}

// ---- capture -------------------------------------------------------------------

TEST(HxEnvCapture, TakesVariablesMaskAndCwdFromThisProcess) {
  extern char** environ;
  char** saved = environ;
  char a[] = "HX_A=1=2";
  char bare[] = "NOEQUALS";
  char empty[] = "HX_E=";
  char* fake[] = {a, bare, empty, nullptr};
  mode_t old = ::umask(027);
  HxEnv env;
  env.set("stale", "x");
  env.mount("Z:", "kept");
  environ = fake;
  env.setToEnv();
  environ = saved;
  ::umask(old);
  EXPECT_EQ(joined(env.keys()), "HX_A|NOEQUALS|HX_E");
  EXPECT_EQ(joined(env.values()), "1=2||");
  EXPECT_EQ(env.mask(), 027);
  EXPECT_EQ(env.mountcount(), 1);
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(S(env.cwd()), cwd);
}

TEST(HxEnvCapture, LiveEnvironmentIsSetAndRead) {
  HxEnv::setEnv("HX_ENV_TEST_VAR", "a=b");
  EXPECT_EQ(S(HxEnv::valueEnv("HX_ENV_TEST_VAR")), "a=b");
  EXPECT_STREQ(std::getenv("HX_ENV_TEST_VAR"), "a=b");
  EXPECT_EQ(S(HxEnv::valueEnv("HX_ENV_TEST_VA")), "");
  EXPECT_EQ(S(HxEnv::valueEnv("HX_ENV_NEVER_SET")), "");
}

TEST(HxEnvCapture, SuRunsFromAnArgumentVector) {
  HxStringList argv;
  ASSERT_TRUE(HxEnv::_suArguments("render", "/bin/bash", argv));
  EXPECT_EQ(joined(argv),
            "su|-s|/bin/bash|-|render|-c|"
            "\\echo __WIPE__ && \\echo __HXSTART__ && \\env && \\echo -n umask= && umask");
  HxStringList noshell;
  ASSERT_TRUE(HxEnv::_suArguments("a\\b; rm -rf /", "", noshell));
  ASSERT_EQ(noshell.length(), 5);
  EXPECT_EQ(S(*noshell.get(1)), "-");
  // The name reaches su byte for byte: nothing is parsed by a shell.
  EXPECT_EQ(S(*noshell.get(2)), "a\\b; rm -rf /");
  HxStringList nouser;
  ASSERT_TRUE(HxEnv::_suArguments("", "", nouser));
  EXPECT_EQ(nouser.length(), 4);
  HxStringList option;
  EXPECT_FALSE(HxEnv::_suArguments("-cevil", "", option));
  EXPECT_EQ(option.length(), 0);
}

TEST(HxEnvCapture, SuOutputIsReadAfterTheMarkerLine) {
  HxEnv env;
  env.set_cwd("/kept");
  std::string out = "Last login: today\n__WIPE__\n__HXSTART__\nHOME=/home/r\nSHELL=/bin/sh\numask=0022\n";
  env._suOutput(out.data(), static_cast<int>(out.size()));
  EXPECT_EQ(joined(env.keys()), "HOME|SHELL");
  EXPECT_EQ(env.mask(), 18);
  EXPECT_EQ(S(env.cwd()), "/kept");

  HxEnv none;
  std::string noise = "su: user render does not exist\n __HXSTART__\n__HXSTART__x\nA=1";
  none._suOutput(noise.data(), static_cast<int>(noise.size()));
  EXPECT_EQ(none.keys().length(), 0);
  std::string last = "__HXSTART__";
  none._suOutput(last.data(), static_cast<int>(last.size()));
  EXPECT_EQ(none.keys().length(), 0);
}

TEST(HxEnvCapture, RefusedUserLeavesTheObjectAsItWas) {
  HxEnv env = sample();
  env.setToEnv("-c", "");
  EXPECT_EQ(S(env.convert()), S(sample().convert()));
}
