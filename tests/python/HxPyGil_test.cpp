#include "python/HxPyGil.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "api/HxApiReply.h"
#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "core/HxInterrupt.h"
#include "tests/api/ApiTestUtil.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/api/JobProcessTestUtil.h"
#include "tests/net/NetTestUtil.h"
#include "tests/python/PyTestUtil.h"

namespace {

class PyGil : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!Py_IsInitialized()) Py_InitializeEx(0);
  }
};

TEST_F(PyGil, ReleasedAroundTheCallAndTakenBack) {
  ASSERT_EQ(PyGILState_Check(), 1);
  // Another thread runs Python code while the call is inside: it could not
  // if the lock were still held (the join would never return).
  int seen = 0;
  int result = hx_py_released([&] {
    EXPECT_EQ(PyGILState_Check(), 0);
    std::thread other([&] {
      PyGILState_STATE state = PyGILState_Ensure();
      PyObject* v = PyLong_FromLong(41);
      seen = static_cast<int>(PyLong_AsLong(v)) + 1;
      Py_DECREF(v);
      PyGILState_Release(state);
    });
    other.join();
    return 7;
  });
  EXPECT_EQ(result, 7);
  EXPECT_EQ(seen, 42);
  EXPECT_EQ(PyGILState_Check(), 1);

  // Taken back also when the call throws.
  EXPECT_THROW(hx_py_released([]() -> int { throw std::runtime_error("x"); }), std::runtime_error);
  EXPECT_EQ(PyGILState_Check(), 1);
}

// ---- signals ------------------------------------------------------------------

// A world whose first wait on the test's thread (once armed) raises SIGINT,
// as if Ctrl-C came while the call was busy just before it, and finds
// nothing ready; it records that wait's time-out. While armed the call is
// busy for long stretches: each look at the steady clock on the test's
// thread finds kHxCheckAfterWorkMillis gone by. Later waits on the test's
// thread time out at once when `time_out`; other threads wait for real.
class SigintWorld : public hxtest::ApiWorld {
 public:
  int64_t steadyMillis() override {
    int64_t const now = HxWorld::steadyMillis() + skipped_;
    if (pthread_equal(pthread_self(), test_thread_) != 0 && armed) skipped_ += kHxCheckAfterWorkMillis;
    return now;
  }
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    if (pthread_equal(pthread_self(), test_thread_) == 0) return HxWorld::poll(fds, count, timeout_ms);
    if (armed.exchange(false)) {
      first_wait = timeout_ms;
      raise(SIGINT);
      return 0;
    }
    if (time_out && timeout_ms != 0) return 0;
    return HxWorld::poll(fds, count, timeout_ms);
  }
  std::atomic<bool> armed{true};
  std::atomic<int> first_wait{-2};
  bool time_out = true;

 private:
  pthread_t const test_thread_ = pthread_self();
  std::atomic<int64_t> skipped_{0};
};

class PySignals : public hxtest::PyModuleTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(hxtest::py_exec("import signal\nsignal.signal(signal.SIGINT, signal.default_int_handler)\n"), "");
  }
  void TearDown() override {
    EXPECT_EQ(hxtest::py_exec("signal.signal(signal.SIGINT, signal.SIG_DFL)\n"), "");
    hxtest::PyModuleTest::TearDown();
  }
};

// Ctrl-C that came while the call was busy for a long stretch before its
// wait (SIGINT is pending when the wait begins) ends the call at that wait
// with KeyboardInterrupt: the wait asks the signal handlers before it
// blocks, rather than waiting out its time-out first. For calls that
// release the interpreter lock and for one that keeps it (waitfor).
TEST_F(PySignals, CtrlCBeforeTheWaitEndsTheCallThere) {
  struct Row {
    char const* name;
    char const* call;
  } const rows[] = {
      {"jobinfo", "_hx.jobinfo()"},
      {"kill", "_hx.kill(12)"},
      {"waitfor", "_hx.waitfor('never', 5)"},
  };
  for (Row const& row : rows) {
    SigintWorld world;
    hxtest::ApiWorldGuard guard(world);
    hxtest::FakeSupervisor supe(world);
    ASSERT_TRUE(supe.ok());
    supe.addJob(12, "ann", "a");
    std::string const got = hxtest::py_repr(row.call);
    EXPECT_NE(got.find("KeyboardInterrupt"), std::string::npos) << row.name << ": " << got;
    // 0: the look that does not wait; a time-out: the wait blocked first.
    EXPECT_EQ(world.first_wait, 0) << row.name;
  }
}

// A signal handler's exception that ends a nested call (made from the
// outer call's argument conversion, and caught there) ends only the nested
// call: the outer kill still reaches the supervisor.
TEST_F(PySignals, NestedCallEndedBySignalLeavesTheOuterCallGoing) {
  SigintWorld world;
  world.time_out = false;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  supe.addJob(12, "ann", "a");
  ASSERT_EQ(hxtest::py_exec(R"(
said = []
class Nested(list):
    """Job ids whose first reading makes a call of its own."""
    def __getitem__(self, i):
        if not said:
            try:
                _hx.jobinfo()
                said.append('returned')
            except KeyboardInterrupt:
                said.append('KeyboardInterrupt')
        return list.__getitem__(self, i)
)"),
            "");
  EXPECT_EQ(hxtest::py_repr("_hx.kill({'jobids': Nested(['12'])})"), "['12']");
  EXPECT_EQ(hxtest::py_repr("said"), "['KeyboardInterrupt']");
  EXPECT_EQ(std::string(supe.job(12).status().value().value()), "killed");
}

}  // namespace

// ---- calls nested in a call of the same thread ------------------------------

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

// Reads n bytes; false when the peer went first.
bool read_exactly(int fd, std::string& out, size_t n) {
  out.assign(n, '\0');
  size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 30000) != 1) return false;
    ssize_t r = ::read(fd, &out[got], n - got);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// One request frame's payload, inflated; "<bad frame>" when it is not one.
std::string read_request(int fd) {
  std::string header, packed;
  if (!read_exactly(fd, header, 9) || header[0] != 2) return "<bad frame>";
  auto word = [&](int at) {
    auto const* u = reinterpret_cast<unsigned char const*>(header.data() + at);
    return (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | uint32_t{u[3]};
  };
  if (!read_exactly(fd, packed, word(1))) return "<bad frame>";
  std::string plain(word(5), '\0');
  uLongf n = plain.size();
  if (uncompress(reinterpret_cast<Bytef*>(&plain[0]), &n, reinterpret_cast<Bytef const*>(packed.data()),
                 packed.size()) != Z_OK ||
      n != plain.size())
    return "<bad frame>";
  return plain;
}

int accept_one(int listener) {
  pollfd p{listener, POLLIN, 0};
  if (::poll(&p, 1, 30000) != 1) return -1;
  return ::accept(listener, nullptr, nullptr);
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

// ---- the interpreter lock taken back only when needed -----------------------

namespace keeping {

using hxtest::py_exec;
using hxtest::py_repr;

// Waits up to `seconds` for the flag; true when it was set.
bool wait_for(std::atomic<bool> const& flag, int seconds) {
  auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!flag) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The world's steady clock runs this many times as fast as the real one.
constexpr int kPace = 20;
// How long (real time) the other thread keeps the lock: longer than the
// frame's deadline of the call below (10 steps of 6 s by the world's clock,
// 3 s real).
constexpr int kKeepMillis = 4000;

// Set by the peer once the request came (the call released the lock), and
// by keep_lock() while and after it keeps the lock.
std::atomic<bool> g_take{false};
std::atomic<bool> g_keeping{false};
std::atomic<bool> g_kept{false};

// A world whose steady clock runs kPace times as fast as the real one, so
// that a frame's deadline passes in seconds; its waits are the real ones
// (none ends early on a loaded machine). It notes when the test's thread
// begins a wait that blocks while the other thread keeps the lock.
class FastWorld : public hxtest::ApiWorld {
 public:
  int64_t steadyMillis() override { return HxWorld::steadyMillis() * kPace; }
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    if (timeout_ms != 0 && g_keeping && pthread_equal(pthread_self(), test_thread_) != 0) blocked = true;
    return HxWorld::poll(fds, count, timeout_ms);
  }
  std::atomic<bool> blocked{false};

 private:
  pthread_t const test_thread_ = pthread_self();
};

// keep_lock(): run on a Python thread, waits (the lock released) until the
// peer has the request, then takes the lock and keeps it for kKeepMillis,
// as a long C call or a long regular expression match would.
PyObject* keep_lock(PyObject*, PyObject*) {
  PyThreadState* const state = PyEval_SaveThread();
  wait_for(g_take, 30);
  PyEval_RestoreThread(state);
  g_keeping = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(kKeepMillis));
  g_kept = true;
  Py_RETURN_NONE;
}

PyMethodDef g_keep_lock = {"keep_lock", keep_lock, METH_NOARGS, nullptr};

// A job list of `jobs` jobs of 512 KiB of random letters each (which
// compress little), as a reply frame.
std::string job_list_frame(int jobs) {
  std::mt19937 draw(11);
  HxMessage r(kHxReplyConfirmed);
  r.version(530);
  auto* list = new HxJobList;
  for (int i = 0; i < jobs; ++i) {
    std::string text(512 * 1024, ' ');
    for (char& c : text) c = static_cast<char>('a' + draw() % 26);
    auto* job = new HxJob;
    job->id(100 + i);
    job->data(hxtest::H(text));
    list->append(job);
  }
  r.content(list);
  return tcp_frame(hxtest::packed(r));
}

// Answers one request with a large job list: once the other thread keeps
// the lock, the first third; once the caller began a wait since (or the
// lock is free again), the rest in two pieces 50 ms apart (1 s of the
// world's time), so that the caller waits between them.
class StreamingPeer {
 public:
  explicit StreamingPeer(FastWorld& world) : world_(world), listener_(bound_socket(SOCK_STREAM)) {
    listen(listener_, 8);
    thread_ = std::thread([this] { serve_(); });
  }
  StreamingPeer(StreamingPeer const&) = delete;
  StreamingPeer& operator=(StreamingPeer const&) = delete;
  ~StreamingPeer() {
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }
  int port() const { return local_port(listener_); }

 private:
  void serve_() {
    int const a = nesting::accept_one(listener_);
    if (a < 0) return;
    std::string const reply = job_list_frame(4);
    nesting::read_request(a);
    g_take = true;
    wait_for(g_keeping, 30);
    size_t const third = reply.size() / 3;
    write_all(a, reply.substr(0, third));
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!world_.blocked && !g_kept && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    write_all(a, reply.substr(third, third));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    write_all(a, reply.substr(2 * third));
    std::string ignored;
    nesting::read_exactly(a, ignored, 1);
    close(a);
  }

  FastWorld& world_;
  int listener_;
  std::thread thread_;
};

// The interrupt check of the module, counted: each ask of the main thread
// inside a call that released the lock takes the lock back.
HxInterruptCheck g_module_check = nullptr;
std::atomic<int> g_asked{0};
bool counted_check() {
  ++g_asked;
  return g_module_check();
}

// Counts the module's checks for one scope.
struct CountedChecks {
  CountedChecks() {
    g_module_check = hx_interrupt_check();
    g_asked = 0;
    if (g_module_check != nullptr) hx_set_interrupt_check(&counted_check);
  }
  ~CountedChecks() { hx_set_interrupt_check(g_module_check); }
};

}  // namespace keeping

// The main thread's call reads a large reply that comes in parts while
// another Python thread keeps the interpreter lock for longer than the
// frame's deadline: the call asks for the lock only at its end, so the
// reply arrives whole (the time spent waiting for the lock at the end is
// no part of the request).
TEST(PyKeptLock, MainThreadCallReadsItsReplyWhileAnotherThreadKeepsTheLock) {
  using namespace keeping;
  hxtest::py_start();
  g_take = false;
  g_keeping = false;
  g_kept = false;
  FastWorld world;
  StreamingPeer peer(world);
  world.config("hx_supervisor = 127.0.0.1\nsupervisor_port = " + std::to_string(peer.port()) + "\n");
  hxtest::ApiWorldGuard guard(world);
  hxtest::py_set("keep_lock", PyCFunction_New(&g_keep_lock, nullptr));
  ASSERT_EQ(py_exec("import threading\n"
                    "_old_timeout = _hx.gettimeout()\n"
                    "_hx.settimeout(30000)\n"
                    "keeper = threading.Thread(target=keep_lock)\n"
                    "keeper.start()\n"),
            "");
  CountedChecks counted;
  testing::internal::CaptureStderr();
  auto const start = std::chrono::steady_clock::now();
  std::string const got = py_repr("[(j['id'], len(j['data'])) for j in _hx.jobinfo()]");
  auto const took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::string const said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(got, "[(100, 524288), (101, 524288), (102, 524288), (103, 524288)]")
      << said << "checks " << g_asked << ", " << took.count() << " ms";
  EXPECT_TRUE(g_kept) << "the other thread did not keep the lock through the call";
  EXPECT_EQ(py_exec("keeper.join()\n_hx.settimeout(_old_timeout)\n"), "");
}

// A thread other than the interpreter's main one never takes the lock back
// for the check: a wait of its call that a signal interrupts goes on while
// the main thread holds the lock.
TEST(PyKeptLock, OtherThreadsWaitOnWithoutTheLock) {
  using keeping::wait_for;
  hxtest::py_start();
  // The worker's first wait fails as a signal interrupts it, once the main
  // thread holds the lock; whether it waits again is recorded.
  class WorkerWorld : public hxtest::ApiWorld {
   public:
    int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
      if (!worker_known || pthread_equal(pthread_self(), worker) == 0) return HxWorld::poll(fds, count, timeout_ms);
      if (!interrupted.exchange(true)) {
        in_call = true;
        wait_for(main_holds, 30);
        errno = EINTR;
        return -1;
      }
      waited_again = true;
      return HxWorld::poll(fds, count, timeout_ms);
    }
    pthread_t worker{};
    std::atomic<bool> worker_known{false}, interrupted{false}, in_call{false}, main_holds{false},
        waited_again{false};
  } world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  supe.addHost("other01");
  std::string got;
  PyThreadState* main_state = PyEval_SaveThread();
  std::thread worker([&] {
    world.worker = pthread_self();
    world.worker_known = true;
    PyGILState_STATE const state = PyGILState_Ensure();
    got = hxtest::py_repr("[h['name'] for h in _hx.hostinfo()]");
    PyGILState_Release(state);
  });
  bool const in_call = wait_for(world.in_call, 30);
  PyEval_RestoreThread(main_state);
  world.main_holds = true;
  // The lock held here: the worker can wait again only without it.
  bool const went_on = wait_for(world.waited_again, 10);
  main_state = PyEval_SaveThread();
  worker.join();
  PyEval_RestoreThread(main_state);
  EXPECT_TRUE(in_call);
  EXPECT_TRUE(went_on) << "the worker's check waited for the lock";
  EXPECT_EQ(got, "['other01']");
}

// A call that waits and is not interrupted takes the lock back once, at its
// end: over many calls the check is not asked (a loaded machine may let a
// call work for the long stretch once or twice).
TEST(PyKeptLock, PlainCallsAskNothing) {
  hxtest::py_start();
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  supe.addHost("plain01");
  keeping::CountedChecks counted;
  ASSERT_NE(keeping::g_module_check, nullptr);
  int const calls = 50;
  for (int i = 0; i < calls; ++i) ASSERT_EQ(hxtest::py_repr("len(_hx.hostinfo())"), "1") << "call " << i;
  EXPECT_LE(keeping::g_asked, 2) << "checks over " << calls << " calls";
}

namespace keeping {

// sigint_item(i): raises SIGINT and gives "12", with no Python code after
// it that would run the handler: as a sequence's __getitem__, the signal is
// pending while the call converts its arguments.
PyObject* sigint_item(PyObject*, PyObject*) {
  raise(SIGINT);
  return PyUnicode_FromString("12");
}

PyMethodDef g_sigint_item = {"sigint_item", sigint_item, METH_O, nullptr};

}  // namespace keeping

// Ctrl-C while the call converts its arguments ends it when it releases
// the lock, before its request: nothing reaches the supervisor.
TEST_F(PySignals, CtrlCWhileConvertingEndsTheCallBeforeItsRequest) {
  hxtest::ApiWorld world;
  hxtest::ApiWorldGuard guard(world);
  hxtest::FakeSupervisor supe(world);
  ASSERT_TRUE(supe.ok());
  supe.addJob(12, "ann", "a");
  hxtest::py_set("sigint_item", PyCFunction_New(&keeping::g_sigint_item, nullptr));
  ASSERT_EQ(hxtest::py_exec("class SigIds(list):\n    __getitem__ = sigint_item\n"), "");
  std::string const got = hxtest::py_repr("_hx.kill({'jobids': SigIds(['12'])})");
  EXPECT_NE(got.find("KeyboardInterrupt"), std::string::npos) << got;
  EXPECT_EQ(supe.requests().size(), 0u);
  EXPECT_NE(std::string(supe.job(12).status().value().value()), "killed");
}
