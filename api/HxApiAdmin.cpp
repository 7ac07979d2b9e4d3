#include "api/HxApiAdmin.h"

#include "api/HxApiReply.h"
#include "api/HxApiRoad.h"
#include "api/HxApiState.h"
#include "api/HxRequestTypes.h"
#include "config/HxFlags.h"

namespace {

int supervisor_mode(char const* word, HxString const& mode) {
  int const bits = hx_supervisor_mode_flag_int(mode);
  if (bits == 0) return 0;
  HxStringList args;
  args.append(new HxString(word));
  args.append(new HxString(bits));
  HxMessage request(kHxReqSupervisorMode), reply;
  HxLentContent lend(request, args);
  if (!_hx_api_supervisor(request, reply)) return 0;
  return _hx_reply_A3(reply);
}

int permission_order(int action, HxString const& method, int value, HxString const* group, HxStringList& users) {
  if (users.length() == 0) return 0;
  HxAdminOrder order;
  order.action(action);
  order.method(method);
  order.value(value);
  if (group != nullptr) order.group(*group);
  for (int i = 0; i < users.length(); ++i)
    if (HxString const* user = users.get(i)) order.userlist().append(new HxString(*user));
  HxMessage request(kHxReqAdminPerm), reply;
  HxLentContent lend(request, order);
  if (!_hx_api_supervisor(request, reply, nullptr)) return 0;
  return _hx_reply_A1(reply);
}

// An error reply, then a refusal: the tests of both acknowledged families.
int error_then_refusal(HxMessage const& reply) {
  if (_hx_reply_A4(reply, true) == 0) return 0;
  return _hx_reply_A3(reply);
}

}  // namespace

int hxsupervisorsetmode(HxString const& mode) { return supervisor_mode("set", mode); }
int hxsupervisorunsetmode(HxString const& mode) { return supervisor_mode("unset", mode); }

int hxadmincommand(HxString const& word) {
  HxStringList words;
  words.append(new HxString(word));
  HxMessage request(kHxReqAdminCommand), reply;
  HxLentContent lend(request, words);
  if (!_hx_api_supervisor(request, reply)) return 0;
  return error_then_refusal(reply);
}

int hxcapturehosts() { return hxadmincommand(HxString("refresh_workers")); }
int hxconfigworkers() { return hxadmincommand(HxString("config_workers")); }
int hxresync() { return hxadmincommand(HxString("resync_supervisor")); }
int hxreset() { return hxadmincommand(HxString("reset_supervisor")); }
int hxbackup() { return hxadmincommand(HxString("backup_supervisor")); }

int hxadmincommand(HxAdminOrder& order, HxAdminResult& result) {
  HxMessage request(kHxReqAdminOrder), reply;
  {
    HxLentContent lend(request, order);
    if (!_hx_api_supervisor(request, reply)) return 0;
  }
  if (error_then_refusal(reply) == 0) return 0;
  if (reply.content() == nullptr) {
    _hx_api_fail(kHxBlankLine);
    return 0;
  }
  auto* got = _hx_reply_content<HxAdminResult>(reply, kHxTypeAdminResult);
  if (got == nullptr) {
    _hx_invalid_line(HxReplyObject::kResult, reply.contenttype());
    return 0;
  }
  result.steal(*got);
  // The users the supervisor names belong to the answer as much as the
  // result's own lists do: they replace the caller's too.
  result.userlist().clear();
  result.userlist().steal(got->userlist());
  return 1;
}

int hxadmingroupperm(HxString const& method, int value, HxString const& group, HxStringList& users) {
  return permission_order(kHxAdminActionManageGroup, method, value, &group, users);
}

int hxadminuserperm(HxString const& method, int value, HxStringList& users) {
  return permission_order(kHxAdminActionManageUser, method, value, nullptr, users);
}

int hxgrouppermissions(HxString const& method, int value, HxString const& group, HxStringList& users) {
  return hxadmingroupperm(method, value, group, users);
}

int hxuserpermissions(HxString const& method, int value, HxStringList& users) {
  return hxadminuserperm(method, value, users);
}

int hxlistfiles(HxStringList& names) {
  HxMessage request(kHxReqListFiles), reply;
  if (!_hx_api_supervisor(request, reply)) return 0;
  return _hx_reply_L(reply, names);
}

int hxgetfiles(HxStringList& names, HxFileList& files) {
  HxMessage request(kHxReqGetFiles), reply;
  {
    HxLentContent lend(request, names);
    if (!_hx_api_supervisor(request, reply)) return 0;
  }
  return _hx_reply_L(reply, files);
}

int hxsupervisorlock() { return 1; }
int hxsupervisorunlock() { return 1; }

std::unique_ptr<HxFilter> hxfilterparam(HxString const& name, HxString const& values) {
  int const n = values.length();
  if (n <= 0) return nullptr;
  auto filter = std::make_unique<HxFilter>(name);
  char const* text = values.value();
  int start = 0;
  for (int i = 0; i <= n; ++i) {
    bool const end = i == n || text[i] == '\t' || text[i] == '\n' || text[i] == ',';
    if (!end) continue;
    if (i > start) filter->fields().append(new HxField(HxString(text + start, i - start)));
    start = i + 1;
  }
  return filter;
}

int hxarchivejob(HxString const& path, HxJob& job, int format) {
  return format == 2 ? job.archiveXML(path) : job.archive(path);
}

namespace {

int recover(HxString const& path, HxJob& job, int format) {
  if (format == 2) return job.recoverXML(path);
  if (format != 0) return job.recover(path);
  {
    // A binary read that fails part way must not leave its fields behind in
    // the job that the XML forms then fill.
    HxJob binary;
    if (int n = binary.recover(path)) {
      job.copy(binary);
      return n;
    }
  }
  {
    HxJobList list;
    int const n = list.recoverXML(path);
    if (n > 0 && list.length() > 0 && list.get(0) != nullptr) {
      job.copy(*list.get(0));
      return n;
    }
  }
  return job.recoverXML(path);
}

}  // namespace

// A job file is outside input: one that decodes to more than memory holds
// fails the call (API error "out of memory") instead of escaping.
int hxrecoverjob(HxString const& path, HxJob& job, int format) {
  return _hx_api_guard(0, [&] { return recover(path, job, format); });
}
