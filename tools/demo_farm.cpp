// A stand-in supervisor for the demonstration: it keeps jobs and hosts in
// memory and answers on a port of 127.0.0.1 that it prints on the first line
// of its output. It starts with one job (100, three frames) and two hosts so
// that a first query has something to show, and answers a job's standard
// output with one line per frame. It serves until its standard input closes.
#include <unistd.h>

#include <cstdio>

#include "api/HxRequestTypes.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxLog.h"
#include "tests/api/FakeSupervisor.h"

int main() {
  // Before the supervisor's thread decodes its first request.
  hx_build_record_tables();
  hxtest::ApiWorld world;
  hx_set_world(&world);
  {
    hxtest::FakeSupervisor supervisor(world);
    if (!supervisor.ok()) {
      std::fputs("demo farm: no port on 127.0.0.1\n", stderr);
      return 1;
    }
    supervisor.addHost("node01", "/render");
    supervisor.addHost("node02", "/render");
    supervisor.addJob(100, "ana", "lighting", {"1", "2", "3"});
    supervisor.on(kHxReqStdout, [&supervisor](HxMessage& q, HxMessage& r) {
      auto* logs = new HxLogList;
      auto const* c = dynamic_cast<HxCommand const*>(q.content());
      for (int i = 0; c != nullptr && i < c->jobids().length(); ++i) {
        HxJob const job = supervisor.job(c->jobids().get(i)->id());
        if (job.id() < 0) continue;
        HxString text;
        for (int k = 0; k < job.agenda().length(); ++k) text += "frame " + job.agenda().get(k)->name() + " done\n";
        auto* log = new HxLog;
        log->jobid(job.id());
        log->subid(c->jobids().get(i)->subid());
        log->data(text);
        log->fullsize(text.length());
        logs->append(log);
      }
      return hxtest::answer(r, kHxReplyConfirmed, logs);
    });
    std::printf("%d\n", supervisor.farm().port());
    std::fflush(stdout);
    char byte;
    while (read(0, &byte, 1) > 0) {
    }
  }
  hx_set_world(nullptr);
  return 0;
}
