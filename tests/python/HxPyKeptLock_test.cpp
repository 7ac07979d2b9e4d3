#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "api/HxRequestTypes.h"
#include "core/HxInterrupt.h"
#include "python/HxPyGil.h"
#include "tests/api/ApiTestUtil.h"
#include "tests/api/FakeSupervisor.h"
#include "tests/net/NetTestUtil.h"
#include "tests/python/PyTestUtil.h"

// The interpreter lock taken back only when needed: a call's waits go on
// while another thread keeps the lock.

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
// Real microseconds the test's thread spent in its waits (FastWorld::poll),
// and that sum when the module's check was first asked (-1: not asked).
std::atomic<int64_t> g_polled_us{0};
std::atomic<int64_t> g_polled_at_check_us{-1};

// A world whose steady clock runs kPace times as fast as the real one, so
// that a frame's deadline passes in seconds; its waits are the real ones
// (none ends early on a loaded machine). The test's thread's first wait
// for the reply begins once the other thread keeps the lock. The world
// notes when the test's thread begins a wait that blocks while the other
// thread keeps the lock; with `signal` set, SIGUSR1 interrupts that wait.
class FastWorld : public hxtest::ApiWorld {
 public:
  int64_t steadyMicros() override { return HxWorld::steadyMicros() * kPace; }
  int poll(pollfd* fds, unsigned long count, int timeout_ms) override {
    if (pthread_equal(pthread_self(), test_thread_) == 0) return HxWorld::poll(fds, count, timeout_ms);
    auto const start = std::chrono::steady_clock::now();
    int const r = test_poll_(fds, count, timeout_ms);
    g_polled_us += std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    return r;
  }
  std::atomic<bool> blocked{false};
  bool signal = false;

 private:
  int test_poll_(pollfd* fds, unsigned long count, int timeout_ms) {
    if ((fds[0].events & POLLIN) != 0 && !replying_.exchange(true)) wait_for(g_keeping, 30);
    if (timeout_ms != 0 && g_keeping && !blocked.exchange(true) && signal) {
      raise(SIGUSR1);
      errno = EINTR;
      return -1;
    }
    return HxWorld::poll(fds, count, timeout_ms);
  }
  pthread_t const test_thread_ = pthread_self();
  std::atomic<bool> replying_{false};
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
// world's time), so that the caller waits between them. Notes whether the
// other thread had let the lock go when the caller closed the connection.
class StreamingPeer {
 public:
  explicit StreamingPeer(FastWorld& world) : world_(world), listener_(bound_socket(SOCK_STREAM)) {
    listen(listener_, 8);
    thread_ = std::thread([this] { serve_(); });
  }
  StreamingPeer(StreamingPeer const&) = delete;
  StreamingPeer& operator=(StreamingPeer const&) = delete;
  ~StreamingPeer() {
    join();
    close(listener_);
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return local_port(listener_); }

 private:
  void serve_() {
    int const a = accept_one(listener_);
    if (a < 0) return;
    std::string const reply = job_list_frame(4);
    read_request(a);
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
    read_exactly(a, ignored, 1);
    kept_at_close = g_kept.load();
    close(a);
  }

 public:
  std::atomic<bool> kept_at_close{false};

 private:

  FastWorld& world_;
  int listener_;
  std::thread thread_;
};

// The interrupt check of the module, counted: each ask of the main thread
// inside a call that released the lock takes the lock back.
HxInterruptCheck g_module_check = nullptr;
std::atomic<int> g_asked{0};
bool counted_check() {
  if (g_asked++ == 0) g_polled_at_check_us = g_polled_us.load();
  return g_module_check();
}

// Counts the module's checks for one scope, from a slice begun anew (an
// ask outside a call, which says no at once).
struct CountedChecks {
  CountedChecks() {
    g_module_check = hx_interrupt_check();
    if (g_module_check != nullptr) hx_set_interrupt_check(&counted_check);
    hx_check_interrupt();
    g_asked = 0;
    g_polled_us = 0;
    g_polled_at_check_us = -1;
  }
  ~CountedChecks() { hx_set_interrupt_check(g_module_check); }
};

}  // namespace keeping

// The main thread's call reads a large reply that comes in parts while
// another Python thread keeps the interpreter lock for longer than the
// frame's deadline. Its waits do not ask for the lock before they have
// blocked a second in all, so the call is done with the connection while
// the other thread still keeps it; when a signal
// interrupts a wait, the check waits for the lock, and that time spends
// none of the frame's deadline (measured on the world's clock), so the
// reply arrives whole either way.
TEST(PyKeptLock, MainThreadCallReadsItsReplyWhileAnotherThreadKeepsTheLock) {
  using namespace keeping;
  hxtest::py_start();
  struct Row {
    char const* name;
    bool signal;
    bool kept_at_close;  // whether the other thread let the lock go first
  } const rows[] = {
      {"no signal", false, false},
      {"a signal", true, true},
  };
  ASSERT_EQ(py_exec("import signal\n_old_usr1 = signal.signal(signal.SIGUSR1, lambda *_: None)\n"), "");
  for (Row const& row : rows) {
    g_take = false;
    g_keeping = false;
    g_kept = false;
    FastWorld world;
    world.signal = row.signal;
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
        << row.name << ": " << said << "checks " << g_asked << ", " << took.count() << " ms";
    EXPECT_TRUE(g_kept) << row.name << ": the other thread did not keep the lock through the call";
    EXPECT_EQ(py_exec("keeper.join()\n_hx.settimeout(_old_timeout)\n"), "") << row.name;
    peer.join();
    // Without a signal the waits ask the check only once they have blocked
    // a second in all, which a loaded machine may reach before the reply is
    // whole: the check then waits for the lock, as it must.
    bool const sliced = !row.signal && g_polled_at_check_us >= 500000;
    if (!row.signal && g_asked > 0) {
      EXPECT_TRUE(sliced) << row.name << ": the check was asked after " << g_polled_at_check_us / 1000
                          << " ms of waits";
    }
    if (!sliced) {
      EXPECT_EQ(peer.kept_at_close, row.kept_at_close) << row.name << ": checks " << g_asked;
    }
  }
  EXPECT_EQ(py_exec("signal.signal(signal.SIGUSR1, _old_usr1)\n"), "");
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
// end: over many calls the check is not asked (on a loaded machine the
// calls' waits may block for a slice in all once or twice).
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
