#include "model/job/HxSubjob.h"

#include "model/job/HxReservation.h"

int hx_host_processors(HxString const& reservations) {
  HxReservationHash hash;
  hash.revert(reservations);
  HxReservation const* processors = hash.get("host.processors");
  return processors == nullptr ? 0 : processors->count();
}
