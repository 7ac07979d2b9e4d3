#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>

#include "api/HxApiReply.h"
#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "python/HxPyGil.h"
#include "tests/api/ApiTestUtil.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/api/JobProcessTestUtil.h"
#include "tests/net/NetTestUtil.h"
#include "tests/python/PyTestUtil.h"

// Module calls nested in a call of the same thread: made by a signal
// handler while the outer call waits, or by Python code the outer call runs
// while it converts its arguments.

namespace nesting {

using hxtest::py_exec;
using hxtest::py_repr;

// Where the outer call is when the nested one runs.
enum class Where { kReceive, kSend };

// A job list, a host list or the submitted jobs with ids, as the reply to a
// request.
std::string reply_to(std::string const& payload, int first_id, bool echo_data) {
  HxMessage q;
  hxtest::unpack_into(q, payload);
  HxMessage r(kHxReplyConfirmed);
  r.version(530);
  if (q.tag() == kHxReqJobInfo) {
    // Two jobs of random letters, which compress little: the frame is
    // large enough to be sent in two parts.
    std::mt19937 draw(7);
    auto* jobs = new HxJobList;
    for (int i = 0; i < 2; ++i) {
      std::string text(48 * 1024, ' ');
      for (char& c : text) c = static_cast<char>('a' + draw() % 26);
      auto* job = new HxJob;
      job->id(100 + i);
      job->name(HxString(("outer" + std::to_string(i)).c_str()));
      job->data(hxtest::H(text));
      jobs->append(job);
    }
    r.content(jobs);
  } else if (q.tag() == kHxReqHostInfo) {
    auto* hosts = new HxHostList;
    auto* host = new HxHost;
    host->name(HxString("nested01"));
    hosts->append(host);
    r.content(hosts);
  } else if (q.contenttype() == 5) {
    auto const* in = static_cast<HxJobList const*>(q.content());
    auto* out = new HxJobList;
    // Each job's id and name, and its data when asked (the nested call's
    // reply is then larger than the outer one's buffer).
    for (int i = 0; i < in->length(); ++i) {
      auto* job = new HxJob;
      job->id(first_id + i);
      job->name(in->get(i)->name());
      if (echo_data) job->data(in->get(i)->data());
      out->append(job);
    }
    r.content(out);
  } else {
    r.tag(kHxReplyRefused);
  }
  return tcp_frame(hxtest::packed(r));
}

// Serves the outer call's conversation and the one nested in it on one
// thread, in the order that puts the nested one inside the outer call's
// wait: kReceive reads the outer request, sends the header and the first
// part of the reply, serves the nested conversation whole, then sends the
// rest; kSend serves the nested conversation before it reads anything of
// the outer request, whose sender meanwhile waits with its socket full (the
// listener's small receive buffer fills soon).
class NestingPeer {
 public:
  explicit NestingPeer(Where where) : listener_(bound_socket(SOCK_STREAM)) {
    int const small = 4096;
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    listen(listener_, 8);
    thread_ = std::thread([this, where] { serve_(where); });
  }
  NestingPeer(NestingPeer const&) = delete;
  NestingPeer& operator=(NestingPeer const&) = delete;
  ~NestingPeer() {
    join();
    close(listener_);
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return local_port(listener_); }
  // Set once the first part of the outer reply was sent.
  std::atomic<bool> part_sent{false};
  // The payloads of the outer and the nested request (read after join()).
  std::string outer, nested;

 private:
  void serve_(Where where) {
    int const a = accept_one(listener_);
    if (a < 0) return;
    std::string rest;
    if (where == Where::kReceive) {
      outer = read_request(a);
      std::string const reply = reply_to(outer, 200, false);
      size_t const part = 9 + 20 * 1024;
      write_all(a, reply.substr(0, part));
      rest = reply.substr(part);
      part_sent = true;
    }
    int const b = accept_one(listener_);
    if (b >= 0) {
      nested = read_request(b);
      write_all(b, reply_to(nested, 300, true));
      close(b);
    }
    if (where == Where::kSend) {
      // The rest comes faster through a larger buffer.
      int const large = 4 << 20;
      setsockopt(a, SOL_SOCKET, SO_RCVBUF, &large, sizeof large);
      outer = read_request(a);
      rest = reply_to(outer, 200, false);
    }
    write_all(a, rest);
    // The client closes first: it has read the whole reply by then.
    std::string ignored;
    read_exactly(a, ignored, 1);
    close(a);
  }

  int listener_;
  std::thread thread_;
};

// A world in which the first wait of this thread that finds the outer call
// where the row wants it fails as a signal (SIGUSR1) interrupts it: a wait
// to write while the socket holds part of the frame, or a wait to read once
// the first part of the reply has been read whole.
class NestingWorld : public hxtest::JobWorld {
 public:
  NestingWorld(Where where, NestingPeer const& peer) : where_(where), peer_(peer) {}
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    if (!pthread_equal(pthread_self(), thread_) || !armed || count != 1)
      return HxWorld::poll(fds, count, timeout_ms);
    // While armed the wait is cut into short ones, so that a part that is
    // sent while this thread waits is seen.
    for (int waited = 0;; waited += 5) {
      if (due_(fds[0])) {
        armed = false;
        pthread_kill(pthread_self(), SIGUSR1);
        errno = EINTR;
        return -1;
      }
      int const slice = timeout_ms < 0 ? 5 : std::min(5, timeout_ms - waited);
      int const r = HxWorld::poll(fds, count, std::max(slice, 0));
      if (r != 0 || (timeout_ms >= 0 && waited + 5 >= timeout_ms)) return r;
    }
  }
  bool armed = true;

 private:
  bool due_(pollfd const& p) const {
    int queued = -1;
    // Bytes of the frame still queued: not the wait of the connect.
    if (where_ == Where::kSend) return (p.events & POLLOUT) != 0 && ioctl(p.fd, TIOCOUTQ, &queued) == 0 && queued > 0;
    return (p.events & POLLIN) != 0 && peer_.part_sent && ioctl(p.fd, FIONREAD, &queued) == 0 && queued == 0;
  }
  Where where_;
  NestingPeer const& peer_;
  pthread_t thread_ = pthread_self();
};

// A request summed up: its tag and, for a submission, each job's name and
// which of the Python texts BIG and NBIG its data equals.
std::string request_summary(std::string const& payload) {
  if (payload == "<bad frame>") return payload;
  HxMessage m;
  hxtest::unpack_into(m, payload);
  std::string out = std::to_string(m.tag());
  if (m.contenttype() != 5) return out;
  auto const* jobs = static_cast<HxJobList const*>(m.content());
  for (int i = 0; i < jobs->length(); ++i) {
    std::string const data = hxtest::S(jobs->get(i)->data());
    std::string const which = data == hxtest::py_str("BIG") ? "BIG" : data == hxtest::py_str("NBIG") ? "NBIG" : "?";
    out += " " + hxtest::S(jobs->get(i)->name()) + " " + which;
  }
  return out;
}

// Texts that compress little, kept in Python: BIG (8 MiB, about 6 MiB
// compressed: more than the two ends' socket buffers hold) and NBIG (2 MiB,
// for a nested submit, whose reply echoes it: larger than the buffer the
// outer call reads into).
void make_texts() {
  ASSERT_EQ(py_exec("import base64, random\n"
                    "_r = random.Random(5)\n"
                    "BIG = base64.b64encode(_r.randbytes(6 * 1024 * 1024)).decode()\n"
                    "NBIG = base64.b64encode(_r.randbytes(1536 * 1024)).decode()\n"),
            "");
}

}  // namespace nesting

// A signal handler that calls the module while the call it interrupted is
// reading its reply, or sending its request: the nested call is answered
// on its own, and the interrupted call goes on and gives its own reply;
// every request reaches the peer whole. The fake holds the outer
// conversation where the row says until the nested one was served, and the
// world makes the signal come at that moment, so nothing depends on timing.
TEST(PyNested, CallFromSignalHandlerDuringAWait) {
  using namespace nesting;
  hxtest::py_start();
  make_texts();
  ASSERT_EQ(py_exec("import signal\n"
                    "def _on_usr1(signum, frame):\n"
                    "    try:\n"
                    "        got.append(('ok', NESTED()))\n"
                    "    except Exception as e:\n"
                    "        got.append(('raised', repr(e)))\n"
                    "_old_usr1 = signal.signal(signal.SIGUSR1, _on_usr1)\n"),
            "");
  struct Row {
    char const* name;
    Where where;
    char const* outer;     // the interrupted call
    char const* expected;  // what it gives, summed up
    char const* nested;    // the handler's call
    char const* handler;   // what that gives, summed up
    int nested_tag;
  } const rows[] = {
      {"receive, nested query", Where::kReceive, "[(j['id'], j['name'], len(j['data'])) for j in _hx.jobinfo()]",
       "[(100, 'outer0', 49152), (101, 'outer1', 49152)]", "[h['name'] for h in _hx.hostinfo()]",
       "[('ok', ['nested01'])]", kHxReqHostInfo},
      {"receive, nested submit", Where::kReceive,
       "[(j['id'], j['name'], len(j['data'])) for j in _hx.jobinfo()]",
       "[(100, 'outer0', 49152), (101, 'outer1', 49152)]",
       "[(j['id'], j['name']) for j in _hx.submit([{'name': 'inner', 'data': NBIG}], False)]",
       "[('ok', [(300, 'inner')])]", kHxReqSubmit},
      {"send, nested query", Where::kSend,
       "[(j['id'], j['name']) for j in _hx.submit([{'name': 'outer', 'data': BIG}], False)]",
       "[(200, 'outer')]", "[h['name'] for h in _hx.hostinfo()]", "[('ok', ['nested01'])]",
       kHxReqHostInfo},
      {"send, nested submit", Where::kSend,
       "[(j['id'], j['name']) for j in _hx.submit([{'name': 'outer', 'data': BIG}], False)]",
       "[(200, 'outer')]",
       "[(j['id'], j['name']) for j in _hx.submit([{'name': 'inner', 'data': NBIG}], False)]",
       "[('ok', [(300, 'inner')])]", kHxReqSubmit},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(py_exec(std::string("got = []\nNESTED = lambda: ") + row.nested + "\n"), "");
    {
      NestingPeer peer(row.where);
      NestingWorld world(row.where, peer);
      world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + std::to_string(peer.port()) + "\n");
      hxtest::ApiWorldGuard guard(world);
      _hx_set_error(HxError());  // "none": a failure of either call would replace it
      testing::internal::CaptureStderr();
      EXPECT_EQ(py_repr(row.outer), row.expected);
      EXPECT_EQ(py_repr("_hx.error()"), "'none'");
      testing::internal::GetCapturedStderr();
      EXPECT_FALSE(world.armed) << "the signal never came";
      // Every request decodes to what its call sent.
      peer.join();
      EXPECT_EQ(request_summary(peer.outer), row.where == Where::kSend ? "200 outer BIG" : "100");
      EXPECT_EQ(request_summary(peer.nested), row.nested_tag == kHxReqSubmit ? "200 inner NBIG" : "101");
    }
    EXPECT_EQ(py_repr("got"), row.handler);
  }
  EXPECT_EQ(py_exec("signal.signal(signal.SIGUSR1, _old_usr1)\n"), "");
}

namespace nesting {

// oom(): what a library function does when memory ran out under it and it
// failed softly (the call's out-of-memory flag set).
PyObject* oom(PyObject*, PyObject*) {
  _hx_set_no_memory();
  Py_RETURN_NONE;
}

PyMethodDef g_oom = {"oom", oom, METH_NOARGS, nullptr};

}  // namespace nesting

// A module call made by Python code that another call runs while it reads
// its arguments (a package mapping's keys()): each call has its own depth
// of job dicts and its own out-of-memory flag, so the outer call is not
// refused for the inner one's depth, and neither clears nor takes the
// other's failure.
TEST(PyNested, CallFromConverter) {
  using hxtest::py_exec;
  using hxtest::py_repr;
  hxtest::py_start();
  hxtest::JobWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::JobStateGuard state;
  hxtest::py_set("oom", PyCFunction_New(&nesting::g_oom, nullptr));
  ASSERT_EQ(py_exec("class M:\n"
                    "    def __init__(self, f): self.f = f\n"
                    "    def keys(self):\n"
                    "        try:\n"
                    "            got.append(('ok', self.f()))\n"
                    "        except Exception as e:\n"
                    "            got.append(('raised', repr(e)))\n"
                    "        return ['k']\n"
                    "    def __getitem__(self, key): return 'v'\n"
                    "def plain(depth):\n"
                    "    d = {'name': 'leaf'}\n"
                    "    for i in range(depth): d = {'name': 'leaf', 'children': [d]}\n"
                    "    return d\n"
                    "def chain(name, depth, f, tail=0):\n"
                    "    d = {'name': name, 'package': M(f)}\n"
                    "    if tail: d['children'] = [plain(tail)]\n"
                    "    for i in range(depth): d = {'name': name, 'children': [d]}\n"
                    "    return d\n"
                    "def outer(job):\n"
                    "    try:\n"
                    "        return [(j['id'], j['name']) for j in _hx.submit([job], False)]\n"
                    "    except MemoryError:\n"
                    "        return 'MemoryError'\n"),
            "");
  struct Row {
    char const* name;
    char const* job;       // the outer call's job, whose package calls
    char const* expected;  // the outer call's result
    char const* nested;    // what the package's keys() got
  } const rows[] = {
      {"a query", "chain('outer', 0, lambda: [h['name'] for h in _hx.hostinfo()])", "[(200, 'outer')]",
       "[('ok', ['nested01'])]"},
      // 60 levels each: within the bound for either, beyond it for both.
      {"deep job dicts in both", "chain('outer', 60, lambda: outer(chain('inner', 60, lambda: 1)))",
       "[(201, 'outer')]", "[('ok', 1), ('ok', [(200, 'inner')])]"},
      // The package (read before the children) calls at depth 61; the
      // children then go 69 levels deeper: 130 in all, too deep for the
      // outer call once its depth is back.
      {"outer goes on deeper after the nested call",
       "chain('outer', 60, lambda: [h['name'] for h in _hx.hostinfo()], 69)",
       "<error RecursionError: job dictionaries nested too deeply>", "[('ok', ['nested01'])]"},
      {"outer out of memory before", "chain('outer', 0, lambda: (oom(), len(_hx.hostinfo()))[1])", "'MemoryError'",
       "[('ok', 1)]"},
      {"nested out of memory", "chain('outer', 0, lambda: outer(chain('inner', 0, oom)))", "[(201, 'outer')]",
       "[('ok', None), ('ok', 'MemoryError')]"},
  };
  for (Row const& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(py_exec("got = []\n"), "");
    hxtest::FakeSupervisor supe(world);  // ids from 200 on
    ASSERT_TRUE(supe.ok());
    supe.addHost("nested01");
    EXPECT_EQ(py_repr(std::string("outer(") + row.job + ")"), row.expected);
    EXPECT_EQ(py_repr("got"), row.nested);
  }
}
