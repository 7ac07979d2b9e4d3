#include "api/HxApiPrefs.h"

#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxRequestTypes.h"

namespace {

// The caller's records are const: the request carries a copy, so that
// packing (which lends the record a buffer for the while) never touches an
// object another thread may be reading.
template <class List>
int read_request(int tag, HxPack& content, List& out) {
  out.clear();
  HxMessage request(tag), reply;
  {
    HxLentContent lend(request, content);
    if (!_hx_api_supervisor(request, reply)) return 0;
  }
  return _hx_reply_L(reply, out);
}

int change_request(int tag, HxPreference const& pref) {
  HxPreference sent(pref);
  HxMessage request(tag), reply;
  {
    HxLentContent lend(request, sent);
    if (!_hx_api_supervisor(request, reply)) return 0;
  }
  return _hx_reply_A4(reply, true);
}

}  // namespace

int hx_get_preferences(HxPreference const& pref, HxDbRows& rows) {
  HxPreference sent(pref);
  return read_request(kHxReqGetPreferences, sent, rows);
}

int hx_get_pipeline_variables(HxStringList const& names, HxDbRows& rows) {
  HxStringList sent;
  sent.copy(names);
  return read_request(kHxReqGetPipelineVariables, sent, rows);
}

int hxjobtagvalues(HxString const& tag, HxStringList& values) {
  HxStringList sent;
  sent.append(new HxString(tag));
  return read_request(kHxReqJobTagValues, sent, values);
}

int hx_set_preference(HxPreference const& pref) { return change_request(kHxReqSetPreference, pref); }
int hx_delete_preference(HxPreference const& pref) { return change_request(kHxReqDeletePreference, pref); }
