#include "api/HxApiPing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>

#include "ApiTestUtil.h"
#include "api/HxApiState.h"
#include "core/HxError.h"
#include "model/job/HxJob.h"
#include "net/HxIntro.h"
#include "net/FakePeer.h"

using hxtest::S;

TEST(HxApiPing, ReplyText) {
  using F = HxPingForm;
  auto intro = [] { return new HxIntro("supervisor 8.1 linux"); };
  auto old = [] { return new HxOldError("old daemon"); };
  struct Row {
    F form;
    int tag;
    std::function<HxPack*()> content;
    char const* mac;
    int result;
    char const* out;
  } const rows[] = {
      {F::kSupervisor, 1, intro, "0a:0b:0c:0d:0e:0f", 1, "10.1.2.3 0A:0B:0C:0D:0E:0F supervisor 8.1 linux"},
      {F::kSupervisor, 1, intro, "", 1, "10.1.2.3 00:00:00:00:00:00 supervisor 8.1 linux"},
      {F::kWorker, 1, intro, "0a:0b:0c:0d:0e:0f", 1, "10.1.2.3 0A:0B:0C:0D:0E:0F supervisor 8.1 linux"},
      {F::kHost, 1, intro, "0a:0b:0c:0d:0e:0f", 1, "10.1.2.3 supervisor 8.1 linux"},
      {F::kSupervisor, 1, nullptr, "", 1, "10.1.2.3 <3.0-8"},
      {F::kWorker, 1, nullptr, "", 1, "10.1.2.3 <3.0-22"},
      {F::kHost, 1, nullptr, "", 1, "10.1.2.3 <3.0-22"},
      {F::kSupervisor, 1, old, "0a:0b:0c:0d:0e:0f", 1, "10.1.2.3 old daemon"},
      {F::kHost, 1, old, "", 1, "10.1.2.3 old daemon"},
      {F::kSupervisor, 1, [] { return new HxJobList; }, "", 1, "before"},  // another class: unchanged
      {F::kSupervisor, 1, [] { return new HxError(2051); }, "", 1, "before"},
      {F::kSupervisor, 4, intro, "", 0, "before"},
      {F::kWorker, 3, nullptr, "", 0, "before"},
      {F::kHost, 0, old, "", 0, "before"},
  };
  for (auto const& r : rows) {
    HxMessage reply(r.tag);
    reply.address(HxAddress(HxString("10.1.2.3")));
    reply.macaddress(HxMacAddress(HxString(r.mac)));
    if (r.content) reply.content(r.content());
    HxString out("before");
    EXPECT_EQ(_hx_ping_text(reply, r.form, out), r.result) << r.out;
    EXPECT_EQ(S(out), r.out);
  }
}

// The declared content type is not trusted: a list declared as a
// self-description or as an old-style error is still another class.
TEST(HxApiPing, DeclaredTypeIsNotTrusted) {
  for (int declared : {170, 52}) {
    HxMessage m(1);
    m.content(new HxJobList);
    HxMessage reply;
    hxtest::unpack_into(reply, hxtest::redeclared(hxtest::packed(m), 5, declared));
    ASSERT_EQ(reply.contenttype(), declared);
    HxString out("before");
    EXPECT_EQ(_hx_ping_text(reply, HxPingForm::kSupervisor, out), 1);
    EXPECT_EQ(S(out), "before");
  }
}

// Against a daemon on 127.0.0.1: the forms that reach a given port.
TEST(HxApiPing, HostPingAgainstAPeer) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  struct Row {
    FakeStep step;
    unsigned char result;
    char const* out;
  };
  FakeStep intro = FakeStep::reply(1);
  intro.content = [] { return new HxIntro("worker 8.1"); };
  FakeStep old = FakeStep::reply(1);
  Row const rows[] = {
      {intro, 1, "127.0.0.1 worker 8.1"},
      {old, 1, "127.0.0.1 <3.0-22"},
      {FakeStep::reply(4), 0, "before"},
      {FakeStep::of(FakeStep::kClose), 0, "before"},
  };
  for (auto const& r : rows) {
    FakePeer peer({r.step});
    ASSERT_TRUE(peer.ok());
    HxString out("before");
    EXPECT_EQ(hxhostping("127.0.0.1", peer.tcpPort(), out), r.result) << r.out;
    EXPECT_EQ(S(out), r.out);
    // The request is message 400 without content.
    auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 1u);
    HxMessage got;
    hxtest::unpack_into(got, requests[0]);
    EXPECT_EQ(got.tag(), 400);
    EXPECT_EQ(got.content(), nullptr);
  }
  // Nothing listening.
  int port = 0;
  {
    FakePeer gone;
    port = gone.tcpPort();
  }
  HxString out("before");
  EXPECT_EQ(hxhostping("127.0.0.1", port, out), 0);
  EXPECT_EQ(S(out), "before");
}

// The supervisor ping: no host asks the supervisor any request would use,
// a given host replaces it; the old-peer mark is the supervisor's own.
TEST(HxApiPing, SupervisorPing) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxsetsupervisor("");
  std::atomic<bool> intro{true};
  hxtest::FakeFarm farm(world, [&](HxMessage& request, HxMessage& reply) {
    return hxtest::answer(reply, request.tag() == 400 ? 1 : 3, intro ? new HxIntro("supervisor 8.1") : nullptr);
  });
  ASSERT_TRUE(farm.ok());
  HxString const local("127.0.0.1");
  struct Row {
    HxString const* host;
    bool intro;
    unsigned char result;
    char const* tail;
  } const rows[] = {
      {nullptr, true, 1, " supervisor 8.1"},
      {&local, true, 1, " supervisor 8.1"},
      {nullptr, false, 1, "127.0.0.1 <3.0-8"},
  };
  for (auto const& r : rows) {
    intro = r.intro;
    HxString out("before");
    EXPECT_EQ(hxping(out, r.host), r.result);
    std::string text = S(out);
    EXPECT_EQ(text.rfind("127.0.0.1 ", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - std::strlen(r.tail)), r.tail);
  }
  auto requests = farm.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (auto const& m : requests) {
    EXPECT_EQ(m->tag(), 400);
    EXPECT_EQ(m->content(), nullptr);
  }
}
