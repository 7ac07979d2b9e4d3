// A stand-in supervisor for the demonstration: it keeps jobs and hosts in
// memory and answers on a port of 127.0.0.1 that it prints on the first line
// of its output. It serves until its standard input closes.
#include <unistd.h>

#include <cstdio>

#include "tests/api/FakeSupervisor.h"

int main() {
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
    std::printf("%d\n", supervisor.farm().port());
    std::fflush(stdout);
    char byte;
    while (read(0, &byte, 1) > 0) {
    }
  }
  hx_set_world(nullptr);
  return 0;
}
