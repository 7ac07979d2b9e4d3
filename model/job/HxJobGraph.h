#pragma once

#include <tuple>

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"
#include "model/job/HxFieldAccessors.h"
#include "model/job/HxJob.h"

// One job placed in a graph, with a position for drawing it.
class HxJobNode : public HxRecord<HxJobNode> {
 public:
  int type() const override { return 114; }
  HxString typeXML() const override { return "job_node"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "x", &HxJobNode::x_), hx_field(2, "y", &HxJobNode::y_),
                           hx_field(3, "job", &HxJobNode::job_));
  }

  HX_INT_ACCESSORS(x)
  HX_INT_ACCESSORS(y)
  HX_MEMBER_ACCESSORS(HxJob, job)

 private:
  int x_ = 0;
  int y_ = 0;
  HxJob job_;
};

// An edge of a graph: the job labelled endlabel waits for the one labelled
// startlabel.
class HxJobLink : public HxRecord<HxJobLink> {
 public:
  int type() const override { return 111; }
  HxString typeXML() const override { return "job_link"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "start", &HxJobLink::startlabel_), hx_field(2, "end", &HxJobLink::endlabel_));
  }

  HX_TEXT_ACCESSORS(startlabel)
  HX_TEXT_ACCESSORS(endlabel)

 private:
  HxString startlabel_;
  HxString endlabel_;
};

HX_NAMED_LIST(HxJobNodeList, HxJobNode, 115, "job_node_list");
HX_NAMED_LIST(HxJobLinkList, HxJobLink, 112, "job_link_list");
// Jobs by label.
HX_NAMED_HASH(HxJobLabelHash, HxJob, 116, "116");

// Jobs submitted together: nodes, links between them by label, and values
// that fill in whatever the single jobs leave unset.
class HxJobGraph : public HxRecord<HxJobGraph> {
 public:
  HxJobGraph() = default;
  // The defaults, then the nodes and links of the other graph.
  HxJobGraph(HxJobGraph const& other) : HxRecord<HxJobGraph>() { copy(other); }
  HxJobGraph& operator=(HxJobGraph const& other) {
    copy(other);
    return *this;
  }
  // Deep copies of the other graph's nodes and links; the graph-wide values
  // stay as they are.
  void copy(HxJobGraph const& other);

  int type() const override { return 113; }
  HxString typeXML() const override { return "job_graph"; }
  // The node list (2) travels before the link list (1); the graph-wide values
  // take the field numbers of the job's fields, pgrp 39.
  static auto wire_fields() {
    return std::make_tuple(
        hx_field(2, "job_list", &HxJobGraph::jobs_), hx_field(1, "job_link_list", &HxJobGraph::links_),
        hx_field(4, "priority", &HxJobGraph::priority_), hx_field(31, "local_order", &HxJobGraph::localorder_),
        hx_field(32, "global_order", &HxJobGraph::globalorder_), hx_field(5, "user", &HxJobGraph::user_),
        hx_field(38, "domain", &HxJobGraph::domain_), hx_field(8, "name", &HxJobGraph::name_),
        hx_field(12, "cpus", &HxJobGraph::cpus_), hx_field(9, "cluster", &HxJobGraph::cluster_),
        hx_field(14, "requirements", &HxJobGraph::requirements_),
        hx_field(30, "reservations", &HxJobGraph::reservations_),
        hx_field(34, "restrictions", &HxJobGraph::restrictions_), hx_field(36, "groups", &HxJobGraph::groups_),
        hx_field(37, "hosts", &HxJobGraph::hosts_), hx_field(33, "queue", &HxJobGraph::queue_),
        hx_field(26, "flags", &HxJobGraph::flags_), hx_field(28, "account", &HxJobGraph::account_),
        hx_field(39, "pgrp", &HxJobGraph::pgrp_));
  }

  HX_MEMBER_ACCESSORS(HxJobNodeList, jobs)
  HX_MEMBER_ACCESSORS(HxJobLinkList, links)
  HX_INT_ACCESSORS(priority)
  HX_INT_ACCESSORS(localorder)
  HX_INT_ACCESSORS(globalorder)
  HX_INT_ACCESSORS(pgrp)
  HX_INT_ACCESSORS(flags)
  int cpus() const { return cpus_; }
  void cpus(int n) { cpus_ = n < 1 ? 1 : n; }
  HX_TEXT_ACCESSORS(user)
  HX_TEXT_ACCESSORS(domain)
  HX_TEXT_ACCESSORS(name)
  HX_TEXT_ACCESSORS(cluster)
  HX_TEXT_ACCESSORS(requirements)
  HX_TEXT_ACCESSORS(reservations)
  HX_TEXT_ACCESSORS(restrictions)
  HX_TEXT_ACCESSORS(groups)
  HX_TEXT_ACCESSORS(hosts)
  HX_TEXT_ACCESSORS(queue)
  HX_TEXT_ACCESSORS(account)
  HxString flagsstring() const;
  void flagsstring(HxString const& text);

  // Appends a copy of each node's job to out, filled from the graph-wide
  // values; a job that links end at waits for their start jobs ("done-job-"
  // and the start label, joined by " and ") with its subjobs blocked. Every
  // appended job belongs to out. Always true.
  bool compile(HxJobList& out);

 private:
  HxJobNodeList jobs_;
  HxJobLinkList links_;
  int priority_ = -1;
  int localorder_ = 0;
  int globalorder_ = 0;
  HxString user_;
  HxString domain_;
  HxString name_;
  int cpus_ = 0;
  HxString cluster_;
  HxString requirements_;
  HxString reservations_;
  HxString restrictions_;
  HxString groups_;
  HxString hosts_;
  HxString queue_;
  int flags_ = 0;
  HxString account_;
  int pgrp_ = -1;
};
