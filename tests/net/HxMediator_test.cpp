#include "net/HxMediator.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/DaemonTestUtil.h"
#include "net/HxNetLimits.h"

namespace {

using hxtest::H;

// One datagram for the mediator: a tag and a content, optionally declared
// as another content type than the content's own.
struct Datagram {
  int tag;
  std::function<HxPack*()> content;
  int declared = 0;  // 0: the content's own type
  bool drop_content = false;

  std::string payload() const {
    HxMessage m(tag);
    if (content) m.content(content());
    if (drop_content) {
      delete m.content();
      m.release();
    }
    m.pack();
    std::string bytes(m.packContents(), static_cast<size_t>(m.packSize()));
    if (declared != 0 && m.content() != nullptr) {
      // Rewrite the content-type record (field 4, kind 1) in place.
      std::string own = std::string("\0\4\0\1", 4) + be32(static_cast<uint32_t>(m.content()->type()));
      size_t at = bytes.find(own);
      if (at != std::string::npos) bytes.replace(at + 4, 4, be32(static_cast<uint32_t>(declared)));
    }
    return bytes;
  }
};

HxPack* post(int pid, char const* triggers) {
  auto* p = new HxPost;
  p->pid(pid);
  p->triggers(triggers);
  return p;
}

HxPack* texts(std::vector<char const*> const& items) {
  auto* l = new HxStringList;
  for (char const* t : items) l->append(new HxString(t));
  return l;
}

HxPack* table(char const* text) {
  auto* h = new HxPropertyHash;
  h->revert(text);
  return h;
}

struct MediatorRow {
  char const* name;
  std::vector<Datagram> datagrams;
  int post_pid;
  char const* triggers;
  char const* buffer;
  char const* stats;
};

TEST(HxMediator, KeepsPostsTextsAndTablesOfTheExpectedClassOnly) {
  std::vector<MediatorRow> const rows = {
      {"a post", {{1101, [] { return post(7, "done"); }}}, 7, "done", "", ""},
      {"the last post wins", {{1101, [] { return post(7, "a"); }}, {1101, [] { return post(8, "b"); }}}, 8, "b", "", ""},
      {"post declared but missing", {{1101, [] { return post(7, "done"); }, 0, true}}, -1, "", "", ""},
      {"post tag with a text list", {{1101, [] { return texts({"x"}); }}}, -1, "", "", ""},
      {"post declared as a list", {{1101, [] { return post(7, "done"); }, 55}}, -1, "", "", ""},
      {"texts from two lists", {{1104, [] { return texts({"a"}); }}, {1104, [] { return texts({"b", "c"}); }}},
       -1, "", "ab", ""},
      {"an empty list", {{1104, [] { return texts({}); }}}, -1, "", "", ""},
      {"text tag with a post", {{1104, [] { return post(7, "x"); }}}, -1, "", "", ""},
      {"list declared as a post", {{1104, [] { return texts({"a"}); }, 133}}, -1, "", "", ""},
      {"a table replaces the last",
       {{1201, [] { return table("host.x=1"); }}, {1201, [] { return table("host.y=2"); }}}, -1, "", "",
       "host.y=2"},
      {"table tag with a list", {{1201, [] { return texts({"host.x=1"}); }}}, -1, "", "", ""},
      {"other tags change nothing", {{400, [] { return post(7, "done"); }}, {1100, [] { return post(9, "x"); }}},
       -1, "", "", ""},
  };
  DaemonWorld world;
  WorldGuard guard(world);
  for (auto const& row : rows) {
    SCOPED_TRACE(row.name);
    HxMediator m;
    ASSERT_EQ(m.openport(kLoopback, 0, 2), 1);
    m.timeout(0);
    HxConnection sender("127.0.0.1", m.port(0), 2, 0);
    for (auto const& d : row.datagrams) {
      std::string p = d.payload();
      ASSERT_GT(sender.send(p.data(), static_cast<int>(p.size())), 0);
    }
    // Every datagram is handed on and counted, whatever its content.
    EXPECT_EQ(m.eventloop(static_cast<int>(row.datagrams.size())), static_cast<int>(row.datagrams.size()));
    EXPECT_EQ(m.post().pid(), row.post_pid);
    EXPECT_EQ(S(m.post().triggers()), row.triggers);
    EXPECT_EQ(S(m.buffer()), row.buffer);
    EXPECT_EQ(S(m.stats().convert()), row.stats);
    // It never answers.
    int length = 0;
    std::unique_ptr<char[]> answer(sender.receive(length));
    EXPECT_EQ(answer, nullptr);
  }
}

TEST(HxMediator, BufferStopsGrowingAtItsLimit) {
  HxMediator m;
  HxConnection none;
  std::string chunk(kHxMaxMediatorBuffer / 4, 'z');
  auto send_text = [&](std::string const& text) {
    HxMessage msg(1104);
    msg.content(texts({}));
    static_cast<HxStringList*>(msg.content())->append(new HxString(H(text)));
    m.eventhandler(1104, msg, none);
  };
  for (int i = 0; i < 4; ++i) send_text(chunk);
  EXPECT_EQ(static_cast<size_t>(m.buffer().length()), kHxMaxMediatorBuffer);
  send_text("x");  // one byte more is refused
  EXPECT_EQ(static_cast<size_t>(m.buffer().length()), kHxMaxMediatorBuffer);
  EXPECT_EQ(m.buffer().get(static_cast<int>(kHxMaxMediatorBuffer) - 1), 'z');
}

TEST(HxMediator, IdentityAndDirectOperations) {
  HxMediator m;
  EXPECT_EQ(m.type(), 200000);
  EXPECT_EQ(S(m.typeXML()), "mediator");
  EXPECT_EQ(m.post().pid(), -1);
  EXPECT_EQ(m.post().port(), -1);
  HxPost p;
  p.pid(3);
  p.triggers("t");
  m.post(p);
  EXPECT_EQ(m.post().pid(), 3);
  HxConnection none;
  HxMessage msg(1201);
  msg.content(table("host.a=1,host.b=2"));
  m.respondSubscription(msg, none);
  EXPECT_EQ(m.stats().count(), 2);
  HxMessage wrong(1101);
  wrong.content(table("host.a=1"));
  m.respondPost(wrong, none);
  EXPECT_EQ(m.post().pid(), 3);
}

}  // namespace
