// Arbitrary bytes unpacked as the reply to a submission, a graph submission
// and a log page, through their reply checks and the page merge. Nothing
// crashes or leaks; a check that succeeds took elements of the class asked
// for, the caller's containers only grow, and a merge keeps every log
// within the bound.
#include <cstddef>
#include <cstdint>

#include "api/HxApiGraph.h"
#include "api/HxApiLogs.h"
#include "api/HxApiSubmit.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  if (size > 1 << 16) return 0;
  char const* data = reinterpret_cast<char const*>(bytes);
  int const n = static_cast<int>(size);
  {
    HxMessage reply;
    reply.unpack(data, n);
    HxJobList submitted;
    submitted.append(new HxJob);
    int const r = _hx_submit_reply(reply, submitted);
    check(submitted.length() >= 1 && (r == 1 || submitted.length() == 1));
    for (int i = 0; i < submitted.length(); ++i) check(submitted.get(i) != nullptr);
  }
  {
    HxMessage reply;
    reply.unpack(data, n);
    HxJobGraph submitted;
    int const r = _hx_graph_reply(reply, submitted);
    check(r == 1 || submitted.jobs().length() == 0);
  }
  {
    HxMessage reply;
    reply.unpack(data, n);
    HxLogList* page = _hx_log_reply(reply);
    if (page == nullptr) return 0;
    HxLogList logs;
    auto* mine = new HxLog;
    mine->jobid(1);
    mine->subid(0);
    mine->data("kept");
    logs.append(mine);
    long long const bound = 64;
    for (int round = 0; round < 3; ++round) {
      long long advance = -1;
      int const before = logs.length();
      int const r = _hx_log_merge(*page, logs, bound, advance);
      check(r >= -1 && r <= 1);
      check(logs.length() >= before);
      if (r < 0) check(logs.length() == before);
      if (r > 0) check(advance > 0);
      for (int i = 0; i < logs.length(); ++i) check(logs.get(i)->data().length() <= bound);
    }
  }
  return 0;
}
