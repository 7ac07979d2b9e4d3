#pragma once

// One API call against a fake farm that gives every request the same
// answer (or against a closed port): the call's result, what it wrote on
// standard error and the requests the farm received, decoded.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/HxApiState.h"
#include "tests/api/ApiTestUtil.h"

namespace hxtest {

struct Answer {
  Answer(int t = 1, std::function<HxPack*()> c = {}, int v = 530, bool r = true)
      : tag(t), content(std::move(c)), version(v), reachable(r) {}
  int tag = 1;
  std::function<HxPack*()> content;  // none when empty
  int version = 530;
  bool reachable = true;  // false: nothing listens on the configured port
};

struct Exchange {
  int result = -1;
  std::string err;
  std::vector<std::unique_ptr<HxMessage>> requests;
};

// Points the world's supervisor, sub and worker ports at a port nobody
// listens on.
inline void unreachable(ApiWorld& world) {
  int closed = 0;
  {
    FakePeer gone;
    closed = gone.tcpPort();
  }
  std::string const port = std::to_string(closed);
  world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + port + "\nsupervisor_sub_port = " + port +
               "\nworker_port = " + port + "\n");
}

// The world must be installed (ApiWorldGuard) and outlive the call.
inline Exchange exchange(ApiWorld& world, Answer const& answer, std::function<int()> const& call) {
  FakeFarm farm(world, [&answer](HxMessage&, HxMessage& reply) {
    reply.version(answer.version);
    return hxtest::answer(reply, answer.tag, answer.content ? answer.content() : nullptr);
  });
  if (!answer.reachable) unreachable(world);
  Exchange out;
  testing::internal::CaptureStderr();
  out.result = call();
  out.err = testing::internal::GetCapturedStderr();
  out.requests = farm.requests();
  return out;
}

// The items of a string list joined by "|".
inline std::string joined(HxStringList const& l) {
  std::string out;
  for (int i = 0; i < l.length(); ++i) out += (i ? "|" : "") + S(*l.get(i));
  return out;
}

// A record's binary form, to tell whether it changed.
inline std::string bytes_of(HxPack& p) {
  p.pack();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

// The login name the client sends for this process's user.
inline std::string login_name() {
  passwd* pw = getpwuid(getuid());
  return pw != nullptr ? pw->pw_name : "";
}

// The API error text a failure's line leaves: the line without its
// "ERROR: " and its line end ("" for no line).
inline std::string cause_of(std::string const& line) {
  std::string out = line;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  if (out.compare(0, 7, "ERROR: ") == 0) out.erase(0, 7);
  return out;
}

// Checks that a call's line on standard error is also its API error.
inline void expect_line_is_error(std::string const& err) {
  if (!err.empty()) {
    EXPECT_EQ(S(hxerror().value()), cause_of(err));
  }
}

}  // namespace hxtest
