#include "api/HxApiSubmit.h"

#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "api/HxApiQuery.h"
#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxApiState.h"
#include "config/HxClientConfig.h"
#include "config/HxConfig.h"
#include "config/HxFlags.h"
#include "config/HxJobConfig.h"
#include "net/HxClient.h"

std::atomic<int> _hx_debug_id{0};

namespace {

std::string_view view(HxString const& s) { return std::string_view(s.value(), static_cast<size_t>(s.length())); }

// The supervisor's preview limit: its "supervisor_p_agenda_max" option, 0
// (no limit) when the option is absent or the configuration cannot be had.
int supervisor_p_agenda_max() {
  HxConfig config;
  hxsupervisorconfig(config);
  return config.option("supervisor_p_agenda_max").integervalue();
}

// A job whose preview was split off, with what the split took: on a failed
// submission the job gets its agenda back in its first order, and its
// preview flag.
class Split {
 public:
  explicit Split(HxJob& job) : job_(job), flagged_((job.flags() & kHxJobFlagPAgenda) != 0) {
    HxWorkList& agenda = job.agenda();
    order_.reserve(static_cast<size_t>(agenda.length()));
    for (int i = 0; i < agenda.length(); ++i) order_.push_back(agenda.get(i));
  }
  Split(Split const&) = delete;
  Split& operator=(Split const&) = delete;

  // Keeps in the job's agenda the items not marked, in order; the marked
  // ones are held here until the submission settles.
  void take(std::vector<bool> const& marked) {
    HxWorkList& agenda = job_.agenda();
    agenda.forget();
    for (size_t i = 0; i < order_.size(); ++i) {
      if (marked[i]) {
        taken_.emplace_back(order_[i]);
      } else {
        agenda.append(order_[i]);
      }
    }
  }

  void restore() {
    HxWorkList& agenda = job_.agenda();
    agenda.forget();
    for (HxWork* w : order_) agenda.append(w);
    for (auto& w : taken_) w.release();
    taken_.clear();
    if (flagged_) job_.flags(job_.flags() | kHxJobFlagPAgenda);
  }

  std::vector<HxWork*> const& order() const { return order_; }

 private:
  HxJob& job_;
  bool flagged_;
  std::vector<HxWork*> order_;
  std::vector<std::unique_ptr<HxWork>> taken_;
};

// Fills the preview's agenda and takes the matching items out of the job's:
// the job's p_agenda list when it has one (each name taking the first equal
// item still there), else its first, last and middle items, else (one or
// two items) all of them.
void split_agenda(HxJob& job, HxJob& preview, Split& split) {
  auto const& order = split.order();
  size_t const n = order.size();
  std::vector<bool> marked(n, false);
  HxWorkList& into = preview.agenda();
  into.clear();
  HxWorkList const& wanted = job.p_agenda();
  if (wanted.length() > 0) {
    into.copy(wanted);
    into.status() = wanted.status();
    into.tally() = wanted.tally();
    // Each name removes as many of the first equal items as it occurs.
    std::unordered_map<std::string_view, int> names;
    for (int i = 0; i < wanted.length(); ++i) ++names[view(wanted.get(i)->name())];
    for (size_t i = 0; i < n; ++i) {
      auto it = names.find(view(order[i]->name()));
      if (it == names.end() || it->second == 0) continue;
      --it->second;
      marked[i] = true;
    }
  } else if (n > 2) {
    for (size_t at : {size_t{0}, n - 1, n / 2}) {
      auto* w = new HxWork;
      w->copy(*order[at]);
      into.append(w);
      marked[at] = true;
    }
  } else {
    into.copy(job.agenda());
    marked.assign(n, true);
  }
  split.take(marked);
}

// The jobs of one request: the caller's jobs (borrowed) and the previews
// made here (owned), in the order they travel.
class Batch {
 public:
  Batch() = default;
  Batch(Batch const&) = delete;
  Batch& operator=(Batch const&) = delete;
  ~Batch() { list_.forget(); }

  HxJobList& list() { return list_; }
  void add(HxJob* job) { list_.append(job); }
  HxJob* keep(std::unique_ptr<HxJob> preview) {
    previews_.push_back(std::move(preview));
    return previews_.back().get();
  }
  Split& split(HxJob& job) {
    splits_.push_back(std::make_unique<Split>(job));
    return *splits_.back();
  }
  int failed() {
    for (auto& s : splits_) s->restore();
    return 0;
  }

 private:
  HxJobList list_;
  std::vector<std::unique_ptr<HxJob>> previews_;
  std::vector<std::unique_ptr<Split>> splits_;
};

}  // namespace

HxString _hx_search_path(HxEnv const& env) {
  HxString path = env.value("HXPATH");
  HxConfig user(env.value("HOME") + "/.hx.conf");
  if (user.valid()) {
    path += ":";
    path += user.option("template_path");
  }
  return path;
}

void _hx_job_process_ids(HxJob& job, HxEnv const& env) {
  if (job.pid() < 0) {
    HxString id = env.value("HXJOBID");
    if (id.length() > 0) job.pid(id.integervalue());
  }
  if (job.pgrp() < 0) {
    HxString id = env.value("HXPGRPID");
    if (id.length() > 0) job.pgrp(id.integervalue());
  }
}

HxString _hx_p_agenda_limit_line(HxString const& name, int count, int limit) {
  HxString line("ERROR: job (name[\"");
  line += name;
  line += "\"]) has requested more p-agenda items[";
  line += count;
  line += "] than the supervisor allows (supervisor_p_agenda_max[";
  line += limit;
  line += "])... job NOT submitted";
  return line;
}

int _hx_submit_reply(HxMessage& reply, HxJobList& submitted) {
  if (reply.tag() == kHxReplyError || reply.tag() == kHxReplyRefused) {
    _hx_capture_error(reply);
    return 0;
  }
  if (reply.content() == nullptr) {
    _hx_set_error(kHxErrBlank);
    return 0;
  }
  HxJobList* jobs = _hx_reply_content<HxJobList>(reply, submitted.type());
  if (jobs == nullptr) {
    HxError e(kHxErrInvalidContent);
    e.set("ID", HxString(reply.contenttype()));
    _hx_set_error(e);
    return 0;
  }
  _hx_move_elements(*jobs, submitted);
  return 1;
}

namespace {

int submit_batch(HxJobList& jobs, HxJobList& submitted, unsigned char variant, Batch& batch) {
  HxClient client;
  _hx_api_client(client);
  HxMessage request(variant != 0 ? kHxReqSubmit + kHxReqSubmitFlag : kHxReqSubmit);

  HxEnv env;
  env.setToEnv();
  HxString searchpath = _hx_search_path(env);

  bool have_limit = false;
  int limit = 0;
  for (int i = 0; i < jobs.length(); ++i) {
    HxJob* job = jobs.get(i);
    if (job == nullptr) continue;
    _hx_job_process_ids(*job, env);
    bool const wants_preview =
        job->agenda().length() > 0 && ((job->flags() & kHxJobFlagPAgenda) != 0 || job->p_agenda().length() > 0);
    if (wants_preview) {
      if (!have_limit) {
        limit = supervisor_p_agenda_max();
        have_limit = true;
      }
      int const count = job->p_agenda().length();
      if (limit != 0 && count > limit) {
        _hx_api_line(_hx_p_agenda_limit_line(job->name(), count, limit));
        continue;
      }
      Split& split = batch.split(*job);
      // The copy leaves the agenda out: the preview's own is chosen below.
      // Every item keeps one owner when memory runs out on the way.
      HxWorkList agenda;
      try {
        agenda.steal(job->agenda());
      } catch (...) {
        agenda.forget();  // the job's agenda still holds every item
        throw;
      }
      HxJob* preview = nullptr;
      try {
        preview = batch.keep(std::make_unique<HxJob>(*job));
      } catch (...) {
        job->agenda().steal(agenda);  // back into the room it had: allocates nothing
        throw;
      }
      job->agenda().steal(agenda);
      preview->flags(preview->flags() | kHxJobFlagPAgenda);
      job->flags(job->flags() & ~kHxJobFlagPAgenda);
      split_agenda(*job, *preview, split);
      preview->priority(job->p_agenda_priority() > 0 ? job->p_agenda_priority() : -1);
      preview->cpus(preview->p_agenda_cpus() >= 1 ? preview->p_agenda_cpus() : preview->agenda().length());
      _hx_jobinit(preview, searchpath);
      batch.add(preview);
    }
    _hx_jobinit(job, searchpath);
    batch.add(job);
  }

  if (_hx_debug_file().length() > 0) {
    _hx_debug_id = 1;
    return 1;
  }

  HxMessage reply;
  bool delivered;
  {
    HxLentContent lend(request, batch.list());
    delivered = client.converseSupervisor(request, reply);
  }
  if (!delivered) {
    // The client's transport error names the cause; a failure that left
    // none (no supervisor configured or found, a reply that did not decode)
    // is named as the other supervisor requests name it.
    HxError const error = client.error();
    if (error.integervalue() == -1) {
      _hx_set_cause(kHxNoSupervisorLine);
    } else {
      _hx_set_error(error);
    }
    return batch.failed();
  }
  if (_hx_submit_reply(reply, submitted) == 0) return batch.failed();
  return 1;
}

}  // namespace

int hxsubmit(HxJobList& jobs, HxJobList& submitted, unsigned char variant) {
  Batch batch;
  try {
    return submit_batch(jobs, submitted, variant, batch);
  } catch (std::bad_alloc const&) {
    // The caller's jobs get back what a split took from them, as after any
    // other failure (putting them back allocates nothing).
    _hx_set_no_memory();
    return batch.failed();
  }
}

void _hx_jobinit(HxJob* job, HxString& searchpath) {
  if (job == nullptr) return;
  HxJobList& children = job->children();
  for (int i = 0; i < children.length(); ++i) _hx_jobinit(children.get(i), searchpath);

  HxClientConfig client;
  job->pathmap().parse(client.client_path_map());
  if (job->path().length() == 0) job->path(searchpath);
  if (job->account().length() == 0) job->account(client.client_account());
  if (job->priority() < 0) {
    HxString const& text =
        (job->flags() & kHxJobFlagPAgenda) != 0 ? client.client_p_agenda_priority() : client.client_priority();
    if (text.length() > 0) job->priority(text.integervalue());
  }
  if (job->cluster().length() == 0) job->cluster(client.client_cluster());
  if (job->restrictions().length() == 0) job->restrictions(client.client_restrictions());
  if (job->mailaddress().length() == 0) job->mailaddress(client.client_mail_address());
  job->flags(job->flags() | client.client_job_flags());

  HxJobConfig type(job->prototype());
  auto fill = [](HxString const& have, HxString const& setting, auto set) {
    if (have.length() == 0) set(setting);
  };
  fill(job->account(), type.job_account(), [&](HxString const& v) { job->account(v); });
  if (job->priority() < 0 && type.job_priority().length() > 0) job->priority(type.job_priority().integervalue());
  fill(job->cluster(), type.job_cluster(), [&](HxString const& v) { job->cluster(v); });
  fill(job->requirements(), type.job_requirements(), [&](HxString const& v) { job->requirements(v); });
  fill(job->restrictions(), type.job_restrictions(), [&](HxString const& v) { job->restrictions(v); });
  fill(job->reservations(), type.job_reservations(), [&](HxString const& v) { job->reservations(v); });
  fill(job->kind(), type.job_kind(), [&](HxString const& v) { job->kind(v); });
  fill(job->label(), type.job_label(), [&](HxString const& v) { job->label(v); });
  fill(job->hosts(), type.job_hosts(), [&](HxString const& v) { job->hosts(v); });
  fill(job->groups(), type.job_groups(), [&](HxString const& v) { job->groups(v); });
  job->flags(job->flags() | hx_job_flag_int(type.job_flags()));
  if (job->cpus() < 1) job->cpus(type.job_cpus().integervalue());
  fill(job->name(), type.job_name(), [&](HxString const& v) { job->name(v); });
  // A status the type names fills only a job that has none; an unknown name
  // is no status.
  HxStatus status(type.job_status());
  if (job->subjobstatus().integervalue() == 0 && status.integervalue() != 0) job->subjobstatus(status);
  if (type.callback_library().length() > 0) job->callbacks().load(type.callback_library());

  HxEnv given = job->env();
  HxEnv& env = job->env();
  env.setToEnv();
  if ((job->flags() & kHxJobFlagAutoMount) == 0) env.mountclear();
  env.mountmap(client.client_drive_map());
  if ((job->flags() & kHxJobFlagExportEnvironment) == 0) env.clear();
  for (int i = 0; i < given.keys().length(); ++i) {
    HxString const* value = given.values().get(i);
    env.set(*given.keys().get(i), value != nullptr ? *value : HxString(""));
  }
  if (given.cwd().length() > 0) env.set_cwd(given.cwd());
}

int _hx_debug_init_job(HxJob* job) {
  int const id = _hx_debug_id.fetch_add(1);
  if (job != nullptr) job->id(id);
  return 1;
}

int _hx_debug_submit(HxJobList&, HxJobList&) {
  _hx_debug_id = 1;
  return 1;
}
