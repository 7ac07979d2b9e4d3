#include "api/HxApiAssign.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "api/HxApiAdmin.h"
#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "config/HxClientConfig.h"
#include "config/HxEnv.h"
#include "core/HxDebug.h"
#include "core/HxInterrupt.h"
#include "core/HxWorld.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxJobId.h"
#include "net/HxClient.h"
#include "net/HxConnection.h"

namespace {

// Conversations with the local worker before the job process gives up on
// its assignment: with pauses of 5 to 10 seconds, two to four hours.
constexpr int kAssignAttempts = 1440;

// The assignment record a reply carries, or null: only an object of the
// assignment class that the reply also declares as such.
HxAssignment* carried_assignment(HxMessage const& reply) {
  return _hx_reply_content<HxAssignment>(reply, HxAssignment().type());
}

void no_assignment_line() { _hx_api_line("ERROR: couldn't obtain assignment"); }

}  // namespace

void _hx_debug_line(HxString const& text) {
  HxDebug& d = *hx_debug_obj();
  d.lock();
  d.mark() << text << '\n';
  d.unlock();
}

void _hx_out_line(HxString const& text) {
  std::string line(text.value(), static_cast<size_t>(text.length()));
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

HxString _hx_local_worker(HxClientConfig const& config) {
  return config.worker_address().length() > 0 ? config.worker_address() : HxString("127.0.0.1");
}

HxString _hx_local_worker() { return _hx_local_worker(HxClientConfig()); }

void _hx_init_assign() {
  HxClient client;
  _hx_api_client(client);
  int const jobid = HxEnv::valueEnv("HXJOBID").integervalue();
  int const subid = HxEnv::valueEnv("HXSUBID").integervalue();
  _hx_out_line("getting job details for: " + HxString(jobid) + "." + HxString(subid));
  HxJobId id(jobid, subid);
  HxMessage request(kHxReqJobInfo);
  HxLentContent lend(request, id);
  HxString const host = _hx_local_worker(client.config());
  auto reply = std::make_unique<HxMessage>();
  for (int n = 0;;) {
    reply = std::make_unique<HxMessage>();
    int const r = hx_world().random();
    bool const delivered = _hx_api_guard(false, [&] { return client.converseWorker(host, request, *reply); });
    int const s = r % 6 + 5;
    if (!delivered) {
      if (hx_interrupted()) break;  // a signal ended the request
      _hx_debug_line("WARNING: init assign api request attempt[" + HxString(n) + "] failed; resending.");
      if (!client.rejected()) {
        _hx_debug_line("WARNING: sleeping [" + HxString(s) + "] seconds before retry.");
        hxsleep(s);
      }
      if (++n >= kAssignAttempts) {
        _hx_api_fail("ERROR: unable to contact worker... recommending immediate shutdown.");
        break;
      }
      continue;
    }
    if (reply->tag() == kHxReplyError) {
      _hx_debug_line("WARNING: init assign api request attempt[" + HxString(n) + "] failed (worker down?); resending.");
      _hx_debug_line("WARNING: sleeping [" + HxString(s) + "] seconds before retry.");
      hxsleep(s);
      if (++n >= kAssignAttempts) break;
      continue;
    }
    break;
  }
  // Whatever else the last reply carried (an error record after error
  // replies) is no assignment, and is freed with the reply.
  std::shared_ptr<HxAssignment const> installed;
  if (HxAssignment* a = carried_assignment(*reply)) {
    reply->release();
    installed.reset(a);
  }
  _hx_assignment(std::move(installed));
}

void _hx_set_assign(HxAssignment* a) {
  std::shared_ptr<HxAssignment const> installed(a);
  if (a != nullptr) _hx_dev_env(a->develop() ? 1 : 0);
  _hx_assignment(std::move(installed));
}

void _hx_set_job(HxString const& file) {
  _hx_out_line("loading development environment. using file: " + file);
  _hx_work_pos(0);
  auto a = std::make_shared<HxAssignment>();
  HxJob& job = a->job();
  hxrecoverjob(file, job, 0);
  job.id(0);
  job.subjobstatus(HxStatus(HxStatus::kPending));
  a->subjob().pid(0);
  a->subjob().id(0);
  a->subjob().status(HxStatus(HxStatus::kPending));
  HxWorkList& agenda = job.agenda();
  for (int i = 0; i < agenda.length(); ++i)
    if (HxWork* w = agenda.get(i)) w->status(HxStatus(HxStatus::kPending));
  job.todo(agenda.length());
  // Installed whole, so that no reader sees it half made.
  _hx_assignment(std::move(a));
  _hx_dev_env(1);
}

void _hx_set_jobid(int, int) {}

int hxjobid() {
  std::shared_ptr<HxAssignment const> a = _hx_assignment();
  if (!a) {
    no_assignment_line();
    return 0;
  }
  return a->job().id();
}

int hxsubid() {
  std::shared_ptr<HxAssignment const> a = _hx_assignment();
  if (!a) {
    no_assignment_line();
    return 0;
  }
  return a->subjob().id();
}

std::shared_ptr<HxJob const> hxjobobj() {
  std::shared_ptr<HxAssignment const> a = _hx_assignment();
  if (!a) {
    no_assignment_line();
    return nullptr;
  }
  HxJob const* job = &a->job();
  return std::shared_ptr<HxJob const>(std::move(a), job);
}

std::shared_ptr<HxSubjob const> hxsubjobobj() {
  std::shared_ptr<HxAssignment const> a = _hx_assignment();
  if (!a) {
    no_assignment_line();
    return nullptr;
  }
  HxSubjob const* subjob = &a->subjob();
  return std::shared_ptr<HxSubjob const>(std::move(a), subjob);
}

HxString hxthishostname() {
  HxConnection::init();
  char name[256];
  if (::gethostname(name, sizeof name - 1) != 0) return HxString("127.0.0.1");
  name[sizeof name - 1] = '\0';
  return HxString(name);
}
