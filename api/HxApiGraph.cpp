#include "api/HxApiGraph.h"

#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxApiSubmit.h"

int _hx_graph_reply(HxMessage& reply, HxJobGraph& submitted) {
  return _hx_reply_R(reply, submitted, HxReplyObject::kList);
}

int hxsubmitgraph(HxJobGraph& graph, HxJobGraph& submitted) {
  HxEnv env;
  env.setToEnv();
  HxString searchpath = _hx_search_path(env);
  HxJobNodeList& nodes = graph.jobs();
  for (int i = 0; i < nodes.length(); ++i) {
    HxJobNode* node = nodes.get(i);
    if (node == nullptr) continue;
    _hx_job_process_ids(node->job(), env);
    _hx_jobinit(&node->job(), searchpath);
  }
  HxMessage request(kHxReqSubmitGraph), reply;
  bool delivered;
  {
    HxLentContent lend(request, graph);
    delivered = _hx_api_supervisor(request, reply, nullptr);
  }
  if (!delivered) return 0;
  return _hx_graph_reply(reply, submitted);
}

int hxsubmitcallback(HxCallbackList& callbacks, HxCallbackList& submitted) {
  HxMessage request(kHxReqSubmitCallback), reply;
  bool delivered;
  {
    HxLentContent lend(request, callbacks);
    delivered = _hx_api_supervisor(request, reply, nullptr);
  }
  if (!delivered) return 0;
  return _hx_reply_L(reply, submitted);
}

int hxsendworkerconfig(HxConfigHash& config) {
  HxMessage request(kHxReqSendWorkerConfig), reply;
  bool delivered;
  {
    HxLentContent lend(request, config);
    delivered = _hx_api_supervisor(request, reply, nullptr);
  }
  return delivered && reply.tag() != kHxReplyRefused ? 1 : 0;
}
