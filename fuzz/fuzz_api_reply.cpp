// Arbitrary bytes unpacked as a reply and run through every reply family,
// the error capture, the ping text, the order replies and the administrator
// answer. Nothing crashes or leaks; a family
// that succeeds took elements of the class asked for, and the caller's
// containers only grow.
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "api/HxApiCommand.h"
#include "api/HxApiPing.h"
#include "api/HxApiQuery.h"
#include "api/HxApiReply.h"
#include "api/HxApiState.h"
#include "api/HxApiWorkers.h"
#include "config/HxConfig.h"
#include "model/farm/HxHost.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxJob.h"
#include "model/job/HxResult.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

template <class List>
void list_families(char const* data, int size) {
  for (int family = 0; family < 2; ++family) {
    HxMessage reply;
    reply.unpack(data, size);
    List mine;
    mine.append(new typename std::remove_pointer<decltype(mine.get(0))>::type);
    int result = family == 0 ? _hx_reply_L(reply, mine) : _hx_reply_N(reply, mine);
    check(mine.length() >= 1);
    check(result == 1 || mine.length() == 1);
    for (int i = 0; i < mine.length(); ++i) check(mine.get(i) != nullptr);
  }
}

// The versioned command reply as a current and as an older peer's: the
// caller's earlier ids stay in front of what an older peer appends.
void versioned(char const* data, int size) {
  for (int version : {530, 529}) {
    HxMessage reply;
    reply.unpack(data, size);
    reply.version(version);
    HxResult result;
    result.jobids().append(new HxJobId(1, 0));
    int r = _hx_reply_V(reply, result);
    if (version < 530) check(result.jobids().length() >= 1 && result.jobids().get(0)->id() == 1);
    if (r == 0 && version < 530) check(result.jobids().length() == 1 && result.workids().length() == 0);

    HxMessage again;
    again.unpack(data, size);
    again.version(version);
    HxJobIdList ids;
    ids.append(new HxJobId(1, 0));
    r = _hx_reply_V_jobids(again, ids);
    check(ids.length() >= 1 && ids.get(0)->id() == 1);
    check(r == 1 || ids.length() == 1);
  }
}

// A worker's own replies: the class asked for, or nothing taken.
void worker(char const* data, int size) {
  HxMessage reply;
  reply.unpack(data, size);
  HxAssignmentList mine;
  int r = _hx_reply_assignments(reply, mine);
  check(r == 1 || mine.length() == 0);
  HxHost host;
  host.name("mine");
  r = _hx_reply_host(reply, host);
  check(r == 1 || host.name() == HxString("mine"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  if (size > 1 << 16) return 0;
  char const* data = reinterpret_cast<char const*>(bytes);
  int const n = static_cast<int>(size);

  list_families<HxJobList>(data, n);
  list_families<HxHostList>(data, n);
  list_families<HxJobIdList>(data, n);

  versioned(data, n);
  worker(data, n);

  HxMessage reply;
  reply.unpack(data, n);
  HxConfig config;
  _hx_reply_R(reply, config, HxReplyObject::kConfig);
  HxResult result;
  _hx_reply_R(reply, result, HxReplyObject::kReport);
  _hx_reply_A3(reply);
  _hx_reply_A4(reply, true);
  _hx_reply_A1(reply);
  _hx_capture_error(reply);
  (void)hxerror().value();

  for (HxPingForm form : {HxPingForm::kSupervisor, HxPingForm::kWorker, HxPingForm::kHost}) {
    HxString out("unchanged");
    int r = _hx_ping_text(reply, form, out);
    check(r == (reply.tag() == 1 ? 1 : 0));
    check(r == 1 || out == HxString("unchanged"));
  }

  // An order reply moves hosts only when it succeeds, and only records.
  for (HxOrderForm form : {HxOrderForm::kResult, HxOrderForm::kVersioned}) {
    for (bool error : {false, true}) {
      HxMessage order_reply;
      order_reply.unpack(data, n);
      HxHostnameList hosts;
      hosts.append(new HxHostname("held"));
      int r = _hx_order_reply(order_reply, form, error, hosts);
      check(r == 1 || hosts.length() == 1);
      check(!(error && order_reply.tag() == 4) || r == 0);
      for (int i = 0; i < hosts.length(); ++i) check(hosts.get(i) != nullptr);
    }
  }
  int admin = _hx_isadmin_reply(reply);
  check(admin == 0 || admin == 1);
  return 0;
}
