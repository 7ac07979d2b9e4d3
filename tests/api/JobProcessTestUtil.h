#pragma once

// Helpers of the job-process tests: a world with a pinned draw, the lines of
// captured output with the debug log's prefix taken off, a peer address that
// nothing listens on, and a fake worker answering with a script of tags.

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "api/HxApiState.h"
#include "model/job/HxAssignment.h"
#include "tests/api/ApiTestUtil.h"

namespace hxtest {

// An API world whose random draws are pinned.
class JobWorld : public ApiWorld {
 public:
  int random() override { return draw; }
  int draw = 7;
};

// The lines of captured output; a debug-log line loses its prefix
// "[date time] host[pid]: ".
inline std::vector<std::string> out_lines(std::string const& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      size_t at = line.find("]: ");
      if (at != std::string::npos) line = line.substr(at + 3);
    }
    out.push_back(line);
  }
  return out;
}

// How many captured lines equal text.
inline int count_lines(std::vector<std::string> const& lines, std::string const& text) {
  int n = 0;
  for (auto const& l : lines) n += l == text;
  return n;
}

// A configuration naming a port on 127.0.0.1 that nothing listens on, for
// the supervisor, its sub port and the worker.
inline std::string closed_farm_config(std::string const& extra = "") {
  int closed = 0;
  {
    FakePeer gone;
    closed = gone.tcpPort();
  }
  std::string const port = std::to_string(closed);
  return "hx_supervisor = 127.0.0.1\nsupervisor_port = " + port + "\nsupervisor_sub_port = " + port +
         "\nworker_port = " + port + "\n" + extra;
}

// Answers the i-th request with the i-th reply of a script (the last one
// repeats); each reply is a tag and a maker of its content.
struct Scripted {
  struct Step {
    int tag;
    std::function<HxPack*()> content;
  };
  std::vector<Step> steps;
  std::shared_ptr<std::atomic<int>> served = std::make_shared<std::atomic<int>>(0);
  bool operator()(HxMessage&, HxMessage& reply) const {
    int i = served->fetch_add(1);
    Step const& s = steps[std::min<size_t>(static_cast<size_t>(i), steps.size() - 1)];
    return answer(reply, s.tag, s.content ? s.content() : nullptr);
  }
};

// Answers each request tag with a script of its own; other tags get a bare
// confirmation (tag 1).
struct ByTag {
  std::shared_ptr<std::map<int, Scripted>> scripts = std::make_shared<std::map<int, Scripted>>();
  ByTag& on(int tag, std::vector<Scripted::Step> steps) {
    (*scripts)[tag] = Scripted{std::move(steps)};
    return *this;
  }
  bool operator()(HxMessage& request, HxMessage& reply) const {
    auto it = scripts->find(request.tag());
    if (it == scripts->end()) return answer(reply, 1);
    return it->second(request, reply);
  }
};

// An assignment of job `job`, subjob `sub`, kept by host `host`.
inline HxAssignment* made_assignment(int job, int sub, char const* host = "") {
  auto* a = new HxAssignment;
  a->job().id(job);
  a->subjob().id(sub);
  a->host(host);
  return a;
}

// Clears the job process's state for one test's life.
class JobStateGuard {
 public:
  JobStateGuard() { reset(); }
  ~JobStateGuard() { reset(); }

 private:
  static void reset() {
    _hx_assignment(nullptr);
    _hx_dev_env(0);
    _hx_work_pos(0);
  }
};

}  // namespace hxtest
