// Arbitrary text through the parsers of identifiers, status names, the tally
// text, the reservation grammar and group access texts. Parsing never fails
// and ends; what the printed forms promise to read back does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/farm/HxAccess.h"
#include "model/job/HxCallbackId.h"
#include "model/job/HxIdText.h"
#include "model/job/HxJobId.h"
#include "model/job/HxReservation.h"
#include "model/job/HxStatus.h"
#include "model/job/HxVariableId.h"
#include "model/job/HxWorkId.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > 4096) return 0;
  HxString const text(reinterpret_cast<char const*>(data), static_cast<int>(size));

  // The identifiers' number reading is atoi's, also past every limit.
  for (int pos = 0; pos < 3; ++pos)
    check(hx_id_text::int_from(text, pos) == (pos < text.length() ? std::atoi(text.value() + pos) : 0));

  HxJobId job(text);
  HxJobId job_back(job.value());
  check(job_back.id() == job.id());
  check(job_back.subid() == (job.subid() >= 0 || job.subid() == -2 ? job.subid() : -1));
  for (int n : {0, -1, 1, 7, -7}) (void)job.sid(n);

  HxCallbackId call(text);
  HxCallbackId call_back(call.value());
  check(call_back.id() == call.id());
  check(call_back.callid() == (call.callid() >= 0 || call.callid() == -2 ? call.callid() : -1));

  HxWorkId work(text);
  check(HxWorkId(work.value()).value() == work.value());

  HxVariableId var(text);
  (void)var.value();
  var.fullname(text);
  (void)var.fullname();

  HxStatus status(text);
  check(status.equals(status.value()));

  HxStatusTally tally;
  tally.revert(text);
  (void)tally.total();
  HxStatusTally tally_back;
  tally_back.revert(tally.convert());
  tally_back.pack();
  tally.pack();
  check(tally_back.packSize() == tally.packSize());

  HxReservation item(text);
  (void)item.fullname();
  // A host reservation with a plain name reads back from its printed form.
  if (item.cls() == HxReservation::kHost && item.count() >= 0) {
    HxReservation plain(HxReservation::kHost, "n", item.count());
    plain.greediness(item.greediness());
    plain.maximum(item.maximum());
    HxReservation back(plain.fullname());
    check(back.count() == plain.count() && back.greediness() == plain.greediness() &&
          back.maximum() == plain.maximum());
  }

  HxGroupAccess group;
  group.fullname(text);
  HxGroupAccess group_back;
  group_back.fullname(group.fullname());
  check(group_back.access() == group.access() && group_back.name() == group.name());

  HxReservationList list;
  list.revert(text);
  HxReservationList list_again;
  list_again.revert(list.convert());
  HxReservationHash hash;
  hash.revert(text);
  // A name may hold a comma or a quote, so the printed text is only read
  // again, not compared.
  HxReservationHash hash_again;
  hash_again.revert(hash.convert());
  check(hash.count() <= list.length());
  return 0;
}
