// Arbitrary bytes decoded into a host list, binary or XML (the first byte
// chooses). Whatever decodes keeps its hosts and their derived versions
// through a second round, and each host books and gives back a reservation
// text taken from its own restrictions field against its resources.
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/farm/HxHost.h"
#include "model/job/HxJob.h"
#include "model/job/HxSubjob.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  char const* bytes = reinterpret_cast<char const*>(data) + 1;
  int n = static_cast<int>(size - 1);
  HxHostList hosts;
  int rc = (data[0] & 1) ? hosts.unpackXML(bytes, n) : hosts.unpack(bytes, n);
  if (rc != 0) return 0;

  hosts.pack();
  std::string once(hosts.packContents(), static_cast<size_t>(hosts.packSize()));
  HxHostList again;
  if (again.unpack(once.data(), static_cast<int>(once.size())) != 0 && once.size() > 4) __builtin_trap();
  if (again.length() != hosts.length()) __builtin_trap();
  for (int i = 0; i < hosts.length(); ++i) {
    HxHost const& a = *hosts.get(i);
    HxHost const& b = *again.get(i);
    // A version derived from the final properties comes back the same.
    if (!(b.properties() == a.properties())) __builtin_trap();
    if (b.version().length() > 0 &&
        (!(b.version() == a.version()) || b.majorver() != a.majorver() || b.minorver() != a.minorver()))
      __builtin_trap();
  }

  for (int i = 0; i < hosts.length() && i < 64; ++i) {
    HxHost& h = *hosts.get(i);
    HxJob job;
    job.reservations(h.restrictions());
    h.accept(job);
    HxSubjob none;
    HxSubjob const& instance = h.subjobs().length() > 0 ? *h.subjobs().get(0) : none;
    h.release(job, instance);
    HxHost copy(h);
    if (!(copy.resources() == h.resources())) __builtin_trap();
  }
  return 0;
}
