#pragma once

// A stateful fake supervisor for API and module tests: it keeps jobs and
// hosts, answers job and host queries from them, applies job and work
// commands to them and answers either as a current peer (version 530, an
// HxResult) or as an older one (529 and below, a bare id list). Requests of
// other tags go to handlers the test installs with on(tag, ...); a tag
// without one is answered with a refusal (tag 3, no content).
//
// Declare it after the test world and its guard: its thread reaches the
// world through the seam.

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "api/HxRequestTypes.h"
#include "model/farm/HxHost.h"
#include "model/job/HxCommand.h"
#include "model/job/HxJob.h"
#include "model/job/HxQuery.h"
#include "model/job/HxResult.h"
#include "tests/api/ApiTestUtil.h"

namespace hxtest {

class FakeSupervisor {
 public:
  using Handler = std::function<bool(HxMessage& request, HxMessage& reply)>;

  explicit FakeSupervisor(ApiWorld& world, int version = kHxVersionResults)
      : version_(version), farm_(world, [this](HxMessage& q, HxMessage& r) { return serve(q, r); }) {}

  bool ok() const { return farm_.ok(); }
  FakeFarm& farm() { return farm_; }
  // The requests received so far, decoded.
  std::vector<std::unique_ptr<HxMessage>> requests() const { return farm_.requests(); }
  // The requests of one tag, decoded.
  std::vector<std::unique_ptr<HxMessage>> requests(int tag) const {
    std::vector<std::unique_ptr<HxMessage>> out;
    for (auto& m : farm_.requests())
      if (m->tag() == tag) out.push_back(std::move(m));
    return out;
  }

  // The protocol version of every reply: 530 or more answers commands with
  // a result, 529 or less with a bare id list.
  void version(int v) {
    std::lock_guard<std::mutex> hold(mu_);
    version_ = v;
  }
  // Answers every request with a refusal (tag 3) while set.
  void refuse(bool on) {
    std::lock_guard<std::mutex> hold(mu_);
    refuse_ = on;
  }
  // Answers requests of this tag through the handler instead.
  void on(int tag, Handler handler) {
    std::lock_guard<std::mutex> hold(mu_);
    handlers_[tag] = std::move(handler);
  }

  void addJob(HxJob const& job) {
    std::lock_guard<std::mutex> hold(mu_);
    jobs_.append(new HxJob(job));
  }
  // A job of this id, user and name, pending, with work items of these names.
  void addJob(int id, char const* user = "u", char const* name = "j", std::vector<std::string> const& work = {}) {
    HxJob job;
    job.id(id);
    job.user(HxString(user));
    job.name(HxString(name));
    job.status(HxStatus(HxStatus::kPending));
    for (auto const& w : work) {
      HxWork* item = new HxWork;
      item->name(HxString(w.c_str()));
      item->status(HxStatus(HxStatus::kPending));
      job.agenda().append(item);
    }
    addJob(job);
  }
  void addHost(HxHost const& host) {
    std::lock_guard<std::mutex> hold(mu_);
    hosts_.append(new HxHost(host));
  }
  void addHost(char const* name, char const* cluster = "/") {
    HxHost host;
    host.name(HxString(name));
    host.cluster(HxString(cluster));
    addHost(host);
  }

  // Copies of the stored records; an unknown id gives a job of id -1.
  HxJob job(int id) const {
    std::lock_guard<std::mutex> hold(mu_);
    HxJob const* j = find_(id);
    return j == nullptr ? HxJob() : HxJob(*j);
  }
  bool hasJob(int id) const {
    std::lock_guard<std::mutex> hold(mu_);
    return find_(id) != nullptr;
  }
  // The status name of a job's work item; "" when there is none.
  std::string workStatus(int id, char const* name) const {
    std::lock_guard<std::mutex> hold(mu_);
    HxJob const* j = find_(id);
    if (j == nullptr) return "";
    for (int i = 0; i < j->agenda().length(); ++i)
      if (j->agenda().get(i)->name() == HxString(name)) return j->agenda().get(i)->status().value().value();
    return "";
  }

  // The field text a filter named `name` compares, for jobs and hosts.
  static HxString text(HxJob const& j, HxString const& name) {
    if (name == "id") return number(j.id());
    if (name == "user") return j.user();
    if (name == "name") return j.name();
    if (name == "status") return j.status().value();
    if (name == "priority") return number(j.priority());
    if (name == "cluster") return j.cluster();
    return HxString();
  }
  static HxString text(HxHost const& h, HxString const& name) {
    if (name == "name") return h.name();
    if (name == "cluster") return h.cluster();
    if (name == "state") return h.state().value();
    if (name == "groups") return h.groups();
    return HxString();
  }

  // A filter holds when one of its fields compares true ("=" or none: equal
  // text, ">" "<": numbers, "~": contains), inverted by neg.
  template <class Rec>
  static bool matches(Rec const& r, HxFilter const& f) {
    HxString const have = text(r, f.name());
    bool any = false;
    for (int i = 0; !any && i < f.fields().length(); ++i) {
      HxField const* field = f.fields().get(i);
      HxString const sign = field->sign();
      HxString const want = field->value();
      if (sign == ">") any = std::atoi(have.value()) > std::atoi(want.value());
      else if (sign == "<") any = std::atoi(have.value()) < std::atoi(want.value());
      else if (sign == "~") any = std::string(have.value()).find(want.value()) != std::string::npos;
      else any = have == want;
    }
    return f.neg() != 0 ? !any : any;
  }
  template <class Rec>
  static bool matches(Rec const& r, HxFilterList const& filters) {
    for (int i = 0; i < filters.length(); ++i)
      if (!matches(r, *filters.get(i))) return false;
    return true;
  }

  // The status a job command leaves its jobs in; 0 leaves it unchanged.
  static int jobStatusAfter(int action) {
    switch (action) {
      case kHxReqKill: return HxStatus::kKilled;
      case kHxReqBlock: return HxStatus::kBlocked;
      case kHxReqUnblock: case kHxReqRequeue: case kHxReqRetry: case kHxReqReset: return HxStatus::kPending;
      case kHxReqSuspend: return HxStatus::kSuspended;
      case kHxReqResume: return HxStatus::kRunning;
      case kHxReqRetire: return HxStatus::kComplete;
      default: return 0;
    }
  }
  static int workStatusAfter(int action) {
    switch (action) {
      case kHxReqKillWork: return HxStatus::kKilled;
      case kHxReqBlockWork: return HxStatus::kBlocked;
      case kHxReqUnblockWork: case kHxReqRetryWork: case kHxReqRequeueWork: return HxStatus::kPending;
      case kHxReqRetireWork: case kHxReqCompleteWork: return HxStatus::kComplete;
      default: return 0;
    }
  }

 private:
  static HxString number(int v) { return HxString(std::to_string(v).c_str()); }
  static bool jobCommand(int tag) {
    return (tag >= kHxReqRemove && tag <= kHxReqReset && tag != kHxReqSubmit + kHxReqSubmitFlag &&
            tag != kHxReqReportJob);
  }
  static bool workCommand(int tag) { return tag >= kHxReqRetryWork && tag <= kHxReqRetireWork; }

  HxJob* find_(int id) const {
    for (int i = 0; i < jobs_.length(); ++i)
      if (jobs_.get(i)->id() == id) return jobs_.get(i);
    return nullptr;
  }

  bool serve(HxMessage& q, HxMessage& r) {
    Handler handler;
    {
      std::lock_guard<std::mutex> hold(mu_);
      r.version(version_);
      if (refuse_) return answer(r, kHxReplyRefused);
      auto it = handlers_.find(q.tag());
      if (it != handlers_.end()) handler = it->second;
    }
    if (handler) return handler(q, r);
    std::lock_guard<std::mutex> hold(mu_);
    int const tag = q.tag();
    if (tag == kHxReqJobInfo || tag == kHxReqJobOrder) return queryJobs(q, r);
    if (tag == kHxReqHostInfo || tag == kHxReqHostOrder) return queryHosts(q, r);
    if (tag == kHxReqSubmit || tag == kHxReqSubmit + kHxReqSubmitFlag) return submit(q, r);
    if (workCommand(tag)) return workCommand(q, r);
    if (jobCommand(tag)) return jobCommand(q, r);
    return answer(r, kHxReplyRefused);
  }

  static HxQuery const* query(HxMessage& q) {
    return q.contenttype() == 24 ? static_cast<HxQuery const*>(q.content()) : nullptr;
  }

  bool queryJobs(HxMessage& q, HxMessage& r) {
    HxQuery const* query_ = query(q);
    auto* out = new HxJobList;
    for (int i = 0; i < jobs_.length(); ++i) {
      if (query_ != nullptr && !matches(*jobs_.get(i), query_->filters())) continue;
      if (query_ != nullptr && query_->limit() > 0 && out->length() >= query_->limit()) break;
      out->append(new HxJob(*jobs_.get(i)));
    }
    return answer(r, kHxReplyConfirmed, out);
  }

  bool queryHosts(HxMessage& q, HxMessage& r) {
    HxQuery const* query_ = query(q);
    auto* out = new HxHostList;
    for (int i = 0; i < hosts_.length(); ++i) {
      if (query_ != nullptr && !matches(*hosts_.get(i), query_->filters())) continue;
      if (query_ != nullptr && query_->limit() > 0 && out->length() >= query_->limit()) break;
      out->append(new HxHost(*hosts_.get(i)));
    }
    return answer(r, kHxReplyConfirmed, out);
  }

  // The command of a request, whatever command record carries it.
  static HxCommand const* command(HxMessage& q) {
    HxPack* c = q.content();
    return c == nullptr ? nullptr : dynamic_cast<HxCommand const*>(c);
  }

  // Jobs named by id (any sub id) or, when the command has filters, matched
  // by them; each once, in store order.
  std::vector<HxJob*> targets(HxCommand const& c) const {
    std::vector<HxJob*> out;
    for (int i = 0; i < jobs_.length(); ++i) {
      HxJob* j = jobs_.get(i);
      bool hit = c.filters().length() > 0 && matches(*j, c.filters());
      for (int k = 0; !hit && k < c.jobids().length(); ++k) hit = c.jobids().get(k)->id() == j->id();
      if (hit) out.push_back(j);
    }
    return out;
  }

  bool jobCommand(HxMessage& q, HxMessage& r) {
    HxCommand const* c = command(q);
    if (c == nullptr) return answer(r, kHxReplyError);
    auto* ids = new HxJobIdList;
    int const status = jobStatusAfter(q.tag());
    for (HxJob* j : targets(*c)) {
      ids->append(new HxJobId(j->id()));
      if (status != 0) j->status(HxStatus(status));
      if (q.tag() == kHxReqModify) modify(*j, *c);
    }
    if (q.tag() == kHxReqRemove)
      for (int i = 0; i < ids->length(); ++i) remove(ids->get(i)->id());
    if (version_ < kHxVersionResults) return answer(r, kHxReplyConfirmed, ids);
    auto* result = new HxResult;
    result->jobids().steal(*ids);
    delete ids;
    return answer(r, kHxReplyConfirmed, result);
  }

  // Applies the fields a modify command names that the fake knows.
  static void modify(HxJob& j, HxCommand const& c) {
    auto const* m = dynamic_cast<HxModifyCommand const*>(&c);
    if (m == nullptr) return;
    for (int i = 0; i < m->fields().length(); ++i) {
      HxString const& name = m->fields().get(i)->value();
      if (name == "priority") j.priority(m->job().priority());
      else if (name == "name") j.name(m->job().name());
      else if (name == "cluster") j.cluster(m->job().cluster());
    }
  }

  void remove(int id) {
    HxJobList keep;
    for (int i = 0; i < jobs_.length(); ++i) {
      HxJob* j = jobs_.get(i);
      if (j->id() == id) delete j;
      else keep.append(j);
    }
    jobs_.forget();
    jobs_.steal(keep);
  }

  bool workCommand(HxMessage& q, HxMessage& r) {
    HxCommand const* c = command(q);
    if (c == nullptr) return answer(r, kHxReplyError);
    auto* ids = new HxWorkIdList;
    int const status = workStatusAfter(q.tag());
    for (int k = 0; k < c->workids().length(); ++k) {
      HxWorkId const* w = c->workids().get(k);
      HxJob* j = find_(w->id());
      if (j == nullptr) continue;
      for (int i = 0; i < j->agenda().length(); ++i) {
        HxWork* item = j->agenda().get(i);
        if (w->name().length() > 0 && !(item->name() == w->name())) continue;
        if (status != 0) item->status(HxStatus(status));
        ids->append(new HxWorkId(j->id(), item->name()));
      }
    }
    if (version_ < kHxVersionResults) return answer(r, kHxReplyConfirmed, ids);
    auto* result = new HxResult;
    result->workids().steal(*ids);
    delete ids;
    return answer(r, kHxReplyConfirmed, result);
  }

  // Submission (200, and 232 alike): each job is kept under the next free
  // id, from 200 on, and the accepted jobs go back with their ids.
  bool submit(HxMessage& q, HxMessage& r) {
    if (q.contenttype() != 5) return answer(r, kHxReplyError);
    HxJobList const* in = static_cast<HxJobList const*>(q.content());
    auto* out = new HxJobList;
    for (int i = 0; in != nullptr && i < in->length(); ++i) {
      while (find_(next_id_) != nullptr) ++next_id_;
      HxJob* job = new HxJob(*in->get(i));
      job->id(next_id_++);
      jobs_.append(job);
      out->append(new HxJob(*job));
    }
    return answer(r, kHxReplyConfirmed, out);
  }

  mutable std::mutex mu_;
  int next_id_ = 200;
  int version_;
  bool refuse_ = false;
  std::map<int, Handler> handlers_;
  HxJobList jobs_;
  HxHostList hosts_;
  FakeFarm farm_;  // last: its thread stops before the state above goes
};

}  // namespace hxtest
