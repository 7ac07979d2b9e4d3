#include "model/job/HxJobGraph.h"

#include <string>
#include <unordered_map>

#include "config/HxFlags.h"
#include "model/job/HxStatus.h"

void HxJobGraph::copy(HxJobGraph const& other) {
  if (&other == this) return;
  jobs_.copy(other.jobs_);
  links_.copy(other.links_);
}

HxString HxJobGraph::flagsstring() const { return hx_job_flag_string(flags_); }

void HxJobGraph::flagsstring(HxString const& text) { flags_ = hx_job_flag_int(text); }

bool HxJobGraph::compile(HxJobList& out) {
  // The label table only points at jobs that out owns: a later job of the
  // same label takes the entry without freeing the earlier one.
  std::unordered_map<std::string, HxJob*> labels;
  auto key = [](HxString const& label) { return std::string(label.value(), static_cast<size_t>(label.length())); };
  for (int i = 0; i < jobs_.length(); ++i) {
    HxJobNode* node = jobs_.get(i);
    if (node == nullptr) continue;
    auto* job = new HxJob();
    *job = node->job();
    if (job->priority() < 0) job->priority(priority_);
    if (job->cluster().length() == 0) job->cluster(cluster_);
    if (job->name().length() == 0) job->name(name_);
    if (job->localorder() < 0) job->localorder(localorder_);
    if (job->globalorder() < 0) job->globalorder(globalorder_);
    if (job->user().length() == 0) job->user(user_);
    if (job->domain().length() == 0) job->domain(domain_);
    if (job->cpus() < 1) job->cpus(cpus_);
    if (job->requirements().length() == 0) job->requirements(requirements_);
    if (job->reservations().length() == 0) job->reservations(reservations_);
    if (job->restrictions().length() == 0) job->restrictions(restrictions_);
    if (job->groups().length() == 0) job->groups(groups_);
    if (job->hosts().length() == 0) job->hosts(hosts_);
    if (job->queue().length() == 0) job->queue(queue_);
    if (job->flags() == 0) job->flags(flags_);
    if (job->account().length() == 0) job->account(account_);
    out.append(job);
    labels[key(job->label())] = job;
  }
  for (int i = 0; i < jobs_.length(); ++i) {
    HxJobNode* node = jobs_.get(i);
    if (node == nullptr) continue;
    HxString const& label = node->job().label();
    HxStringList terms;
    for (int k = 0; k < links_.length(); ++k) {
      HxJobLink const* link = links_.get(k);
      if (link == nullptr || link->endlabel() != label) continue;
      terms.append(new HxString(HxString("done-job-") + link->startlabel()));
    }
    auto it = labels.find(key(label));
    if (terms.length() == 0 || it == labels.end()) continue;
    it->second->dependency(terms.join(HxString(" and ")));
    it->second->subjobstatus(HxStatus(HxStatus::kBlocked));
  }
  return true;
}
