#include "api/HxApiWork.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <memory>

#include "api/HxApiAssign.h"
#include "api/HxApiFlight.h"
#include "api/HxApiLimits.h"
#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "config/HxEnv.h"
#include "config/HxFlags.h"
#include "core/HxInterrupt.h"
#include "core/HxWorld.h"
#include "expr/HxRange.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxJobId.h"
#include "net/HxClient.h"

namespace {

// Retries of the request for an item (1441 conversations in all) and of the
// follow-up acknowledgement to the supervisor.
constexpr int kWorkRetries = 1440;
// Conversations of one work report before it is given up.
constexpr int kReportAttempts = 1440;
// Conversations of one job report before the process gives up on its worker.
constexpr int kReportJobAttempts = 64;
// The job report's pause doubles while it is below this many seconds.
constexpr int kReportJobPauseCap = 600;
// The pause after a failed item of a job that asks to move elsewhere on a
// retry, so that the supervisor can hand the retry to another host first.
constexpr int kMigratePauseSeconds = 30;
// Sequence numbers advance by this much per message about one item.
constexpr int kSeqStep = 3;

// a + b with 32-bit wrap-around, as the supervisor's numbers go.
int wrap_add(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b)); }

HxString item_key(HxWork const& w) { return HxString(w.pid()) + ":" + w.name(); }

void both_lines(HxString const& text) {
  _hx_debug_line(text);
  _hx_api_line(text);
}

void pause_seconds(int seconds) { hxsleep(seconds); }

// Ends the process at once: the streams are flushed by hand, and no static
// destructor or exit handler runs, since other threads of the interpreter
// may still be using what they would destroy. (The debug log closes its
// file after every line.)
[[noreturn]] void end_process() {
  std::fflush(stdout);
  std::fflush(stderr);
  ::_exit(1);
}

unsigned char no_assignment() {
  _hx_api_line("ERROR: couldn't obtain assignment");
  return 0;
}

unsigned char request_dev(HxAssignment const& a, HxWork& work) {
  both_lines("dev - requesting work.");
  HxWorkList const& agenda = a.job().agenda();
  int const pos = _hx_work_pos_take(agenda.length());
  HxWork const* item = pos < 0 ? nullptr : agenda.get(pos);
  if (item == nullptr) {
    _hx_debug_line("dev - complete notification - job done.");
    work.status(HxStatus(HxStatus::kComplete));
    return 1;
  }
  both_lines("got work: " + item->name());
  work = *item;
  work.status(HxStatus(HxStatus::kRunning));
  return 1;
}

unsigned char request_failed(HxWork& work, char const* line) {
  _hx_debug_line(line);
  _hx_set_cause(line);
  work.status(HxStatus(HxStatus::kComplete));
  return 0;
}

}  // namespace

int _hx_frame_padding(HxString const& text) {
  long long v = text.longlongvalue();
  if (v < INT_MIN) v = INT_MIN;
  if (v > kHxMaxFramePadding) v = kHxMaxFramePadding;
  return static_cast<int>(v);
}

HxFrameVariables _hx_frame_variables(HxString const& name, HxString const& padding_text) {
  int start = 1, end = 1, step = 1;
  HxRange::patternsplit(name, start, end, step);
  int const padding = _hx_frame_padding(padding_text);
  return {{
      {"HX_FRAME_NUMBER", HxString(start)},
      {"HX_FRAME_START", HxString(start)},
      {"HX_FRAME_END", HxString(end)},
      {"HX_FRAME_STEP", HxString(step)},
      {"HX_FRAME_RANGE", name},
      {"HX_FRAME_PADDING", HxString(padding)},
      {"HX_PADDED_FRAME_NUMBER", HxString::padded_int(start, padding)},
      {"HX_PADDED_FRAME_START", HxString::padded_int(start, padding)},
      {"HX_PADDED_FRAME_END", HxString::padded_int(end, padding)},
      {"HX_PADDED_FRAME_STEP", HxString::padded_int(step, padding)},
  }};
}

unsigned char hxrequestwork(HxWork& work) {
  std::shared_ptr<HxAssignment const> a = _hx_assignment();
  if (!a) {
    work.status(HxStatus(HxStatus::kComplete));
    return no_assignment();
  }
  if (_hx_dev_env() != 0) return request_dev(*a, work);

  HxClient client;
  client.setSupervisor(hxgetsupervisor());
  HxJobId id(a->job().id(), a->subjob().id());
  HxMessage request(kHxReqRequestWork);
  HxLentContent lend(request, id);
  both_lines("requesting work for: " + HxString(id.id()) + "." + HxString(id.subid()));
  HxMessage reply;
  if (!_hx_api_guard(false, [&] { return client.converseSubSupervisorWithRetries(request, reply, kWorkRetries); }))
    return request_failed(work,
                          "ERROR: hxrequestwork(): unable to contact supe... recommending immediate shutdown to the "
                          "caller.");
  if (reply.content() == nullptr) return request_failed(work, "ERROR: work request malformed");
  HxWork* item = _hx_reply_content<HxWork>(reply, HxWork().type());
  if (item == nullptr) return request_failed(work, "ERROR: supe returned incorrect data");

  if (item->complete()) {
    _hx_debug_line("complete notification - job done: " + HxString(item->pid()));
    work.copy(*item);
    return 1;
  }
  if (item->pending()) {
    _hx_debug_line("preempt order received - job should exit: " + HxString(item->pid()));
    work.copy(*item);
    return 1;
  }

  HxFrameVariables const vars = _hx_frame_variables(item->name(), HxEnv::valueEnv("HX_FRAME_PADDING"));
  for (auto const& v : vars) HxEnv::setEnv(v.first, v.second);

  int const code = _hx_run_flight_checks(a->job(), HX_AGENDA_PREFLIGHT);
  if (code != 0) {
    _hx_debug_line("ERROR: agenda preflights returned error(" + HxString(code) +
                   "). Skipping the processing of agenda item[" + item_key(*item) + "]");
    work.name(item->name());
    work.status(HxStatus(HxStatus::kFailed));
    return 1;
  }

  item->seq(wrap_add(item->seq(), kSeqStep));
  _hx_seq(item->workid(), item->seq());
  HxMessage ack(kHxReqReportWork);
  {
    HxLentContent lend_item(ack, *item);
    HxMessage ignored;
    client.converseSubSupervisorWithRetries(ack, ignored, kWorkRetries);
    both_lines("got work: " + item_key(*item) + " - " + item->status().value());
    if (item->count() > 0) {
      _hx_debug_line("work[" + item_key(*item) + "] auto-retry[" + HxString(item->count()) + "]");
      if (item->retrydelay() > 0) {
        _hx_debug_line("sleeping for retrydelay[" + HxString(item->retrydelay()) + "] seconds");
        pause_seconds(item->retrydelay());
      }
    }
    HxString const host = _hx_local_worker(client.config());
    _hx_debug_line("INFO: informing worker[" + host + "]");
    HxMessage ignored_too;
    client.converseWorker(host, ack, ignored_too);
  }
  work.copy(*item);
  return 1;
}

unsigned char hxreportwork(HxWork& work) {
  std::shared_ptr<HxAssignment const> a = _hx_assignment();
  if (!a) return no_assignment();
  HxEnv::setEnv("HX_FRAME_STATUS", work.status().value());
  if (work.done()) {
    int const code = _hx_run_flight_checks(a->job(), HX_AGENDA_POSTFLIGHT);
    if (code != 0) {
      _hx_debug_line("ERROR: agenda postflights returned error(" + HxString(code) + ") for agenda item[" +
                     item_key(work) + "]-- setting its status to \"failed\"");
      work.status(HxStatus(HxStatus::kFailed));
    }
  }
  if (_hx_dev_env() != 0) {
    _hx_debug_line("dev - reporting status on work: " + work.name() + " - " + work.status().value());
    if (!work.complete()) _hx_debug_line("WARNING: work not set to complete.  Is this ok?");
    return 1;
  }

  HxClient client;
  client.setSupervisor(hxgetsupervisor());
  HxMessage request(kHxReqReportWork);
  if (work.pid() < 0) work.pid(a->job().id());
  if (work.subid() < 0) work.subid(a->subjob().id());
  work.seq(_hx_seq_advance(work.workid(), kSeqStep));
  HxString const status = work.status().value();
  HxString const who = HxString(work.pid()) + "." + HxString(work.subid());
  _hx_debug_line("reporting status on work for: " + who + " " + work.name() + " - " + status);
  work.host(hxthishostname());
  HxLentContent lend(request, work);
  int const migrate_flag = hx_job_flag_int("migrate_on_frame_retry");
  for (int n = 0; n < kReportAttempts; ++n) {
    int const r = hx_world().random();
    HxMessage reply;
    bool const delivered = _hx_api_guard(false, [&] { return client.converseSubSupervisor(request, reply); });
    int const s = r % 6 + 5;
    if (delivered && reply.tag() != kHxReplyError) {
      if (work.status().integervalue() == HxStatus::kFailed && (a->job().flags() & migrate_flag) != 0) {
        _hx_debug_line("INFO: work failed, and 'migrate_on_frame_retry' is set-- pausing for up to " +
                       HxString(kMigratePauseSeconds) +
                       " seconds without doing any processing for this job instance...");
        pause_seconds(kMigratePauseSeconds);
      }
      return 1;
    }
    if (hx_interrupted()) break;  // a signal ended the request
    if (delivered) {
      _hx_debug_line("WARNING: work report attempt[" + HxString(n) + "] failed (supervisor down?); resending.");
      _hx_debug_line("WARNING: sleeping [" + HxString(s) + "] seconds before retry.");
      pause_seconds(s);
      continue;
    }
    _hx_debug_line("WARNING: work report attempt[" + HxString(n) + "] failed; resending.");
    if (!client.rejected()) {
      _hx_debug_line("WARNING: sleeping [" + HxString(s) + "] seconds before retry.");
      pause_seconds(s);
    }
  }
  HxString const line = "ERROR unable to report on work: " + who + " - " + status;
  _hx_debug_line(line);
  _hx_set_cause(line);
  return 0;
}

unsigned char hxreportjob(HxStatus const& status) {
  HxSubjob subjob;
  subjob.status(status);
  return hxreportjob(subjob);
}

unsigned char hxreportjob(HxSubjob& subjob) {
  std::shared_ptr<HxAssignment const> a = _hx_assignment();
  if (!a) {
    _hx_debug_line("unable to report job...  assignment not available.");
    return 0;
  }
  if (_hx_dev_env() != 0) {
    _hx_debug_line("dev - reporting status on job: " + subjob.status().value());
    return 1;
  }
  HxClient client;
  _hx_api_client(client);
  HxSubjob record(subjob);
  record.pid(a->job().id());
  record.id(a->subjob().id());
  record.host(a->host());
  HxMessage request(kHxReqReportJob);
  HxLentContent lend(request, record);
  int pause = hx_world().random() % 5 + 1;
  HxString const host = _hx_local_worker(client.config());
  for (int attempt = 0; attempt < kReportJobAttempts; ++attempt) {
    HxMessage reply;
    if (_hx_api_guard(false, [&] { return client.converseWorker(host, request, reply); })) {
      switch (reply.tag()) {
        case kHxReplyShutdown:
          _hx_debug_line("received order to shutdown.");
          end_process();
        case kHxReplyConfirmed:
          _hx_debug_line("received confirmation from worker.");
          return 1;
        case kHxReplyError:
          _hx_debug_line("WARNING: worker reports a general problem... will retry again.");
          _hx_debug_line("WARNING: sleeping [" + HxString(pause) + "] seconds before retry.");
          break;
        default:
          _hx_debug_line("WARNING: sleeping [" + HxString(pause) + "] seconds before retry.");
          break;
      }
    }
    // A signal that ended the request ends the report, not the process.
    if (hx_interrupted()) return 0;
    pause_seconds(pause);
    if (pause < kReportJobPauseCap) pause *= 2;
  }
  _hx_debug_line("the worker seems dead...  I'm exiting now. ");
  end_process();
}
