// The codec's main load: one job with every field set (four agenda items, a
// second agenda item, two subjobs, a child job, a callback, a variable, an
// environment and a path map) packed and unpacked, and a list of 10,000 such
// jobs without their lists. Each beside a hand-written encoder and decoder of
// the same bytes into the same classes. Also reported: the bytes a decoded
// default job takes (its object and the heap behind it).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/BenchUtil.h"
#include "model/job/HxJob.h"

namespace {

HxJob* make_job(int n, bool lists) {
  auto* j = new HxJob();
  HxString s(n);
  auto t = [&](char const* text) { return HxString(text) + s; };
  j->id(n);
  j->pid(n - 1);
  j->pgrp(n);
  j->priority(50);
  j->p_agenda_priority(40);
  j->p_agenda_cpus(2);
  j->globalorder(n);
  j->localorder(n);
  j->flags(0x204);
  j->status(HxStatus(336));
  j->maskstatus(HxStatus(0));
  j->agendastatus(HxStatus(336));
  j->subjobstatus(HxStatus(336));
  j->user("render");
  j->domain("studio");
  j->password("");
  j->name(t("seq010_shot0420_lighting_v"));
  j->label(t("light"));
  j->cluster("/farm/linux");
  j->timesubmit(HxTime(820000000 + n));
  j->timestart(HxTime(820000100 + n));
  j->timecomplete(HxTime(0));
  j->eta(HxTime(820003600 + n));
  j->data("(=(frames=1-100)(camera=renderCam)(scene=/shows/seq010/shot0420/light.scn))");
  j->queue("default");
  j->cpus(8);
  j->immediatecpus(0);
  j->todo(100);
  j->prototype("cmdrange");
  j->kind("render");
  j->path("/shows/seq010/shot0420");
  j->reason("");
  j->account("seq010");
  j->notes("second pass");
  j->groups("+linux");
  j->hosts("");
  j->omithosts("oldbox01");
  j->omitgroups("");
  j->hostorder("-host.processors");
  j->logpath(t("/farm/logs/job"));
  j->restrictions("");
  j->requirements("host.os=linux and host.memory.avail>=8000");
  j->reservations("host.processors=1+,host.memory=8000");
  j->dependency("");
  j->mailaddress("render@studio");
  j->prototypepath("/farm/types/cmdrange");
  j->range("1-100");
  j->sourcehost(HxAddress(0x0A000105));
  j->cpustally().running(8);
  j->todotally().complete(40);
  j->todotally().running(8);
  j->prod_show("show");
  j->prod_shot("shot0420");
  j->prod_seq("seq010");
  j->prod_client("client");
  j->prod_dept("lighting");
  j->prod_custom1("c1");
  j->prod_custom2("c2");
  j->prod_custom3("");
  j->prod_custom4("");
  j->prod_custom5("");
  j->preflights("");
  j->postflights("");
  j->agenda_preflights("");
  j->agenda_postflights("");
  j->lastupdate(HxTime(820000200 + n));
  j->deadline(HxTime(0));
  j->timeout(-1);
  j->agenda_timeout(3600);
  j->auto_migrate_count(0);
  j->serverid(1);
  j->retrysubjob(3);
  j->retrywork(3);
  j->retrywork_delay(30);
  j->max_cpus(16);
  j->env().set("PATH", "/usr/bin:/bin");
  j->env().set("HOME", "/home/render");
  j->env().set("SHOW", "show");
  j->env().set_mask(022);
  j->env().set_cwd("/shows/seq010");
  j->pathmap().addToDirectMap("/Volumes/shows", "/shows");
  if (!lists) return j;
  for (int i = 0; i < 5; ++i) {
    auto* w = new HxWork();
    w->name(HxString(i + 1));
    w->subid(i % 2);
    w->host(i < 2 ? "node012" : "");
    w->status(HxStatus(i < 2 ? 336 : 320));
    w->pid(n);
    w->id(i);
    w->data("(=(frame=7))");
    w->retrydelay(30);
    w->lastupdate(HxTime(820000200 + i));
    w->timestart(HxTime(820000100 + i));
    (i < 4 ? j->agenda() : j->p_agenda()).append(w);
  }
  for (int i = 0; i < 2; ++i) {
    auto* sub = new HxSubjob();
    sub->id(i);
    sub->pid(n);
    sub->host("node012");
    sub->status(HxStatus(336));
    sub->address(HxAddress(0x0A00010C));
    sub->allocations("host.processors=4");
    sub->timestart(HxTime(820000100));
    j->subjobs().append(sub);
  }
  j->children().append(make_job(n + 1, false));
  auto* cb = new HxCallback();
  cb->id(1);
  cb->pid(n);
  cb->code("print('done')");
  cb->triggers(t("done-job-"));
  j->callbacks().append(cb);
  auto* var = new HxVariable();
  var->pid(n);
  var->name("frames");
  var->value("1-100");
  var->cls(1);
  j->variables().append(var);
  return j;
}

HxJob& sample() {
  static HxJob* j = make_job(1042, true);
  return *j;
}

HxJobList& sample_list() {
  static HxJobList* l = [] {
    auto* list = new HxJobList();
    for (int i = 0; i < 10000; ++i) list->append(make_job(1000 + i, false));
    return list;
  }();
  return *l;
}

std::string bytes_of(HxPack& p) {
  p.pack();
  return std::string(p.packContents(), static_cast<size_t>(p.packSize()));
}

// ---- the hand-written codec of the same bytes ----

class Writer {
 public:
  ~Writer() { std::free(buf_); }
  void reset() { len_ = 0; }
  char const* data() const { return buf_; }
  int size() const { return len_; }
  void header() {
    ensure(4);
    be32(1);
  }
  void i32(int field, int v) {
    head(field, 1, 4);
    be32(static_cast<uint32_t>(v));
  }
  void str(int field, HxString const& s) {
    head(field, 3, 4 + s.length());
    be32(static_cast<uint32_t>(s.length()));
    std::memcpy(buf_ + len_, s.value(), static_cast<size_t>(s.length()));
    len_ += s.length();
  }
  int open(int field, int type) {
    head(field, 4, 8);
    be32(static_cast<uint32_t>(type));
    be32(0);
    return len_;
  }
  void close(int at) {
    uint32_t n = hx_be32(static_cast<uint32_t>(len_ - at));
    std::memcpy(buf_ + at - 4, &n, 4);
  }
  // A nested record of one int, as statuses, times and addresses are.
  void one(int field, int type, int v) {
    int at = open(field, type);
    i32(1, v);
    close(at);
  }

 private:
  void head(int field, int kind, int n) {
    ensure(4 + n);
    be32(static_cast<uint32_t>(field) << 16 | static_cast<uint32_t>(kind));
  }
  void ensure(int n) {
    if (len_ + n <= cap_) return;
    cap_ = (len_ + n) * 4 + 16;
    buf_ = static_cast<char*>(std::realloc(buf_, static_cast<size_t>(cap_)));
  }
  void be32(uint32_t v) {
    v = hx_be32(v);
    std::memcpy(buf_ + len_, &v, 4);
    len_ += 4;
  }
  char* buf_ = nullptr;
  int len_ = 0;
  int cap_ = 0;
};

void put_strings(Writer& w, int field, HxStringList const& l) {
  int at = w.open(field, 55);
  w.i32(1, l.length());
  for (int i = 0; i < l.length(); ++i) w.str(10, *l.get(i));
  w.close(at);
}

void put_tally(Writer& w, int field, HxStatusTally const& t) {
  int at = w.open(field, 32);
  int const v[] = {t.running(), t.blocked(), t.complete(), t.pending(), t.suspended(), t.failed(),
                   t.killed(),  t.waiting(), t.unknown(),  t.warning(), t.badlogin()};
  for (int i = 0; i < 11; ++i) w.i32(i, v[i]);
  w.close(at);
}

void put_mac(Writer& w, int field, HxMacAddress const& m) {
  int at = w.open(field, 155);
  w.str(1, m.text());
  w.close(at);
}

void put_work(Writer& w, HxWork const& x) {
  w.str(1, x.name());
  w.i32(2, x.subid());
  w.str(3, x.host());
  w.one(4, 2, x.status().integervalue());
  w.one(5, 13, static_cast<int>(x.address().value()));
  w.i32(6, x.pid());
  w.str(7, x.data());
  w.i32(8, x.id());
  w.str(9, x.result());
  w.i32(10, x.retry());
  w.i32(19, x.retrydelay());
  w.i32(11, x.count());
  w.str(12, x.dependency());
  w.i32(13, x.percent());
  w.one(14, 33, x.lastupdate().value());
  w.i32(15, x.seq());
  w.one(16, 33, x.timestart().value());
  w.one(17, 33, x.timecomplete().value());
  put_mac(w, 18, x.macaddress());
  w.i32(20, x.timecumulative());
}

void put_subjob(Writer& w, HxSubjob const& x) {
  w.i32(1, x.id());
  w.i32(2, x.pid());
  w.str(3, x.host());
  w.one(4, 2, x.status().integervalue());
  w.one(5, 13, static_cast<int>(x.address().value()));
  w.str(7, x.data());
  w.str(8, x.result());
  put_mac(w, 9, x.macaddress());
  w.i32(10, x.retry());
  w.i32(11, x.count());
  w.one(6, 33, x.lastupdate().value());
  w.i32(12, x.seq());
  w.one(13, 33, x.timestart().value());
  w.one(14, 33, x.timecomplete().value());
  w.str(15, x.allocations());
  w.i32(16, x.timecumulative());
}

template <class L, class F>
void put_list(Writer& w, int field, int type, int item_type, L const& l, F put) {
  int at = w.open(field, type);
  w.i32(1, l.length());
  for (int i = 0; i < l.length(); ++i) {
    int in = w.open(10, item_type);
    put(w, *l.get(i));
    w.close(in);
  }
  w.close(at);
}

void put_job(Writer& w, HxJob const& j) {
  w.i32(1, j.id());
  w.i32(2, j.pid());
  w.i32(4, j.priority());
  w.i32(31, j.localorder());
  w.i32(32, j.globalorder());
  w.i32(3, j.pgrp());
  w.str(5, j.user());
  w.str(38, j.domain());
  w.str(35, j.password());
  w.one(6, 2, j.status().integervalue());
  put_list(w, 7, 6, 4, j.subjobs(), put_subjob);
  w.str(8, j.name());
  w.i32(12, j.cpus());
  w.i32(85, j.max_cpus());
  w.i32(20, j.todo());
  w.str(9, j.cluster());
  put_list(w, 10, 5, 1, j.children(), put_job);
  put_list(w, 11, 15, 14, j.agenda(), put_work);
  put_list(w, 13, 47, 46, j.callbacks(), [](Writer& o, HxCallback const& c) {
    o.i32(1, c.id());
    o.i32(10, c.pid());
    o.str(3, c.code());
    o.str(6, c.triggers());
    o.i32(2, c.language());
    o.i32(5, c.maximum());
    o.i32(4, c.count());
    o.str(9, c.user());
    o.str(8, c.ready());
    o.one(11, 33, c.lastupdate().value());
  });
  w.str(14, j.requirements());
  w.str(30, j.reservations());
  w.str(34, j.restrictions());
  w.str(36, j.groups());
  w.str(37, j.hosts());
  w.str(41, j.hostorder());
  w.str(15, j.data());
  w.str(33, j.queue());
  w.str(16, j.prototype());
  w.str(17, j.path());
  w.str(18, j.reason());
  w.str(19, j.logpath());
  put_tally(w, 21, j.cpustally());
  put_tally(w, 22, j.todotally());
  w.one(23, 33, j.timesubmit().value());
  w.one(39, 33, j.timestart().value());
  w.one(24, 33, j.timecomplete().value());
  w.i32(26, j.flags());
  w.str(27, j.label());
  w.str(28, j.account());
  {
    HxEnv& env = const_cast<HxJob&>(j).env();
    int at = w.open(29, 49);
    put_strings(w, 1, env.keys());
    put_strings(w, 2, env.values());
    w.i32(3, env.mask());
    w.str(4, env.cwd());
    int mounts = w.open(5, 56);
    w.i32(1, 0);
    w.close(mounts);
    w.close(at);
  }
  w.str(40, j.kind());
  w.i32(42, j.serverid());
  w.one(43, 33, j.lastupdate().value());
  w.i32(44, j.timeout());
  put_list(w, 47, 121, 120, j.variables(), [](Writer& o, HxVariable const& v) {
    o.i32(1, v.pid());
    o.str(2, v.name());
    o.str(3, v.value());
    o.i32(4, v.cls());
    o.one(5, 33, v.lastupdate().value());
  });
  w.one(48, 2, j.agendastatus().integervalue());
  w.one(49, 2, j.subjobstatus().integervalue());
  {
    HxPathMap& map = const_cast<HxJob&>(j).pathmap();
    int at = w.open(50, 154);
    int hash = w.open(1, 56);
    HxStringList const& keys = map.directmap_keys();
    w.i32(1, keys.length());
    for (int i = 0; i < keys.length(); ++i) {
      w.str(10, *keys.get(i));
      w.str(30, *map.directmap().get(*keys.get(i)));
    }
    w.close(hash);
    put_strings(w, 2, keys);
    w.close(at);
  }
  w.i32(51, j.retrysubjob());
  w.i32(52, j.retrywork());
  w.str(53, j.omithosts());
  w.str(60, j.omitgroups());
  w.str(54, j.dependency());
  w.one(55, 33, j.deadline().value());
  w.str(56, j.mailaddress());
  w.str(57, j.notes());
  w.str(58, j.prototypepath());
  w.one(59, 13, static_cast<int>(j.sourcehost().value()));
  w.i32(61, j.immediatecpus());
  w.one(62, 2, j.maskstatus().integervalue());
  w.one(63, 33, j.eta().value());
  w.str(64, j.range());
  w.i32(65, j.agenda_timeout());
  w.i32(66, j.auto_migrate_count());
  w.i32(67, j.retrywork_delay());
  put_list(w, 68, 15, 14, j.p_agenda(), put_work);
  w.i32(69, j.p_agenda_priority());
  w.i32(70, j.p_agenda_cpus());
  HxString const* texts[] = {&j.prod_show(),    &j.prod_shot(),    &j.prod_seq(),          &j.prod_client(),
                             &j.prod_dept(),    &j.prod_custom1(), &j.prod_custom2(),      &j.prod_custom3(),
                             &j.prod_custom4(), &j.prod_custom5(), &j.preflights(),        &j.postflights(),
                             &j.agenda_preflights(), &j.agenda_postflights()};
  for (int i = 0; i < 14; ++i) w.str(71 + i, *texts[i]);
}

void encode_job(HxJob const& j, Writer& w) {
  w.reset();
  w.header();
  put_job(w, j);
}

void encode_list(HxJobList const& l, Writer& w) {
  w.reset();
  w.header();
  w.i32(1, l.length());
  for (int i = 0; i < l.length(); ++i) {
    int at = w.open(10, 1);
    put_job(w, *l.get(i));
    w.close(at);
  }
}

// Reads records with the codec's bounds checks: a short or lying value ends
// the object, an object record of another type ends the object.
struct Reader {
  char const* p;
  int left;
  int field = 0, kind = 0;
  bool next() {
    if (left < 4) return false;
    field = _rc_int16(p);
    kind = _rc_int16(p + 2);
    p += 4;
    left -= 4;
    return true;
  }
  bool i32(int& v) {
    if (kind != 1 || left < 4) return skip();
    v = _rc_int32(p);
    p += 4;
    left -= 4;
    return true;
  }
  int i32() {
    int v = 0;
    i32(v);
    return v;
  }
  // A string value; null when it is not one.
  char const* str(int& n) {
    if (kind != 3 || left < 4) return nullptr;
    n = _rc_int32(p);
    if (n < 0 || n > left - 4) return nullptr;
    char const* at = p + 4;
    p += 4 + n;
    left -= 4 + n;
    return at;
  }
  // An object value of the type: its body. False (and the rest dropped)
  // when the type differs or the length lies.
  bool object(int type, Reader& body) {
    if (kind != 4 || left < 8) return skip();
    int n = _rc_int32(p + 4);
    if (_rc_int32(p) != type || n < 0 || n > left - 8) {
      left = 0;
      return false;
    }
    body = Reader{p + 8, n};
    p += 8 + n;
    left -= 8 + n;
    return true;
  }
  bool skip() {
    int n = kind == 1 || kind == 5 ? 4 : kind == 2 || kind == 6 ? 1 : kind == 7 ? 8 : -1;
    if (kind == 3 && left >= 4) n = 4 + _rc_int32(p);
    if (kind == 4 && left >= 8) n = 8 + _rc_int32(p + 4);
    if (n < 0 || n > left) {
      left = 0;
      return false;
    }
    p += n;
    left -= n;
    return true;
  }
};

// Reads a string record into a setter of (bytes, n); empty strings keep the value.
template <class F>
void get_str(Reader& r, F set) {
  int n = 0;
  char const* at = r.str(n);
  if (at == nullptr) {
    r.skip();
  } else if (n > 0) {
    set(at, n);
  }
}

int get_one(Reader& r, int type, int keep) {
  Reader body{nullptr, 0};
  if (!r.object(type, body)) return keep;
  while (body.next()) {
    if (body.field == 1) keep = body.i32();
    else body.skip();
  }
  return keep;
}

void get_strings(Reader& r, HxStringList& l) {
  Reader body{nullptr, 0};
  if (!r.object(55, body) || !body.next() || body.field != 1 || body.i32() < 1) return;
  while (body.next()) {
    int n = 0;
    char const* at = body.str(n);
    if (at == nullptr) return;
    l.append(new HxString(at, n));
  }
}

void get_tally(Reader& r, HxStatusTally& t) {
  Reader body{nullptr, 0};
  if (!r.object(32, body)) return;
  void (HxStatusTally::*const set[])(int) = {
      &HxStatusTally::running, &HxStatusTally::blocked, &HxStatusTally::complete, &HxStatusTally::pending,
      &HxStatusTally::suspended, &HxStatusTally::failed, &HxStatusTally::killed,  &HxStatusTally::waiting,
      &HxStatusTally::unknown, &HxStatusTally::warning, &HxStatusTally::badlogin};
  while (body.next()) {
    int f = body.field;
    if (f >= 0 && f <= 10) (t.*set[f])(body.i32());
    else body.skip();
  }
}

void get_mac(Reader& r, HxMacAddress& m) {
  Reader body{nullptr, 0};
  if (!r.object(155, body)) return;
  while (body.next()) {
    if (body.field == 1) get_str(body, [&](char const* s, int n) { m.copy(HxString(s, n)); });
    else body.skip();
  }
}

#define STR(obj, name) get_str(r, [&](char const* s, int n) { obj.name(s, n); })
#define ONE(obj, name, type, Cls) obj.name(Cls(get_one(r, type, static_cast<int>(obj.name().value()))))

void get_work(Reader& r, HxWork& x) {
  while (r.next()) {
    switch (r.field) {
      case 1: STR(x, name); break;
      case 2: x.subid(r.i32()); break;
      case 3: STR(x, host); break;
      case 4: x.status(HxStatus(get_one(r, 2, x.status().integervalue()))); break;
      case 5: x.address(HxAddress(get_one(r, 13, static_cast<int>(x.address().value())))); break;
      case 6: x.pid(r.i32()); break;
      case 7: STR(x, data); break;
      case 8: x.id(r.i32()); break;
      case 9: STR(x, result); break;
      case 10: x.retry(r.i32()); break;
      case 19: x.retrydelay(r.i32()); break;
      case 11: x.count(r.i32()); break;
      case 12: STR(x, dependency); break;
      case 13: x.percent(r.i32()); break;
      case 14: ONE(x, lastupdate, 33, HxTime); break;
      case 15: x.seq(r.i32()); break;
      case 16: ONE(x, timestart, 33, HxTime); break;
      case 17: ONE(x, timecomplete, 33, HxTime); break;
      case 18: {
        HxMacAddress m = x.macaddress();
        get_mac(r, m);
        x.macaddress(m);
        break;
      }
      case 20: x.timecumulative(r.i32()); break;
      default: r.skip();
    }
  }
}

void get_subjob(Reader& r, HxSubjob& x) {
  while (r.next()) {
    switch (r.field) {
      case 1: x.id(r.i32()); break;
      case 2: x.pid(r.i32()); break;
      case 3: STR(x, host); break;
      case 4: x.status(HxStatus(get_one(r, 2, x.status().integervalue()))); break;
      case 5: x.address(HxAddress(get_one(r, 13, static_cast<int>(x.address().value())))); break;
      case 7: STR(x, data); break;
      case 8: STR(x, result); break;
      case 9: {
        HxMacAddress m = x.macaddress();
        get_mac(r, m);
        x.macaddress(m);
        break;
      }
      case 10: x.retry(r.i32()); break;
      case 11: x.count(r.i32()); break;
      case 6: ONE(x, lastupdate, 33, HxTime); break;
      case 12: x.seq(r.i32()); break;
      case 13: ONE(x, timestart, 33, HxTime); break;
      case 14: ONE(x, timecomplete, 33, HxTime); break;
      case 15: STR(x, allocations); break;
      case 16: x.timecumulative(r.i32()); break;
      default: r.skip();
    }
  }
}

void get_callback(Reader& r, HxCallback& c) {
  while (r.next()) {
    switch (r.field) {
      case 1: c.id(r.i32()); break;
      case 10: c.pid(r.i32()); break;
      case 3: get_str(r, [&](char const* s, int n) { c.code(HxString(s, n)); }); break;
      case 6: get_str(r, [&](char const* s, int n) { c.triggers(HxString(s, n)); }); break;
      case 2: c.language(r.i32()); break;
      case 5: c.maximum(r.i32()); break;
      case 4: c.count(r.i32()); break;
      case 9: get_str(r, [&](char const* s, int n) { c.user(HxString(s, n)); }); break;
      case 8: get_str(r, [&](char const* s, int n) { c.ready(HxString(s, n)); }); break;
      case 11: c.lastupdate(HxTime(get_one(r, 33, c.lastupdate().value()))); break;
      default: r.skip();
    }
  }
}

void get_variable(Reader& r, HxVariable& v) {
  while (r.next()) {
    switch (r.field) {
      case 1: v.pid(r.i32()); break;
      case 2: get_str(r, [&](char const* s, int n) { v.name(s, n); }); break;
      case 3: get_str(r, [&](char const* s, int n) { v.value(HxString(s, n)); }); break;
      case 4: v.cls(r.i32()); break;
      case 5: v.lastupdate(HxTime(get_one(r, 33, v.lastupdate().value()))); break;
      default: r.skip();
    }
  }
}

template <class T, class L, class F>
void get_list(Reader& r, int type, int item_type, L& l, F get) {
  Reader body{nullptr, 0};
  if (!r.object(type, body) || !body.next() || body.field != 1 || body.i32() < 1) return;
  while (body.next()) {
    Reader item{nullptr, 0};
    bool ok = body.object(item_type, item);
    T* x = new T();
    if (ok) get(item, *x);
    l.append(x);
    if (!ok) return;
  }
}

void get_job(Reader& r, HxJob& j);

void get_env(Reader& r, HxEnv& env) {
  Reader body{nullptr, 0};
  if (!r.object(49, body)) return;
  while (body.next()) {
    switch (body.field) {
      case 1: get_strings(body, env.keys()); break;
      case 2: get_strings(body, env.values()); break;
      case 3: env.set_mask(body.i32()); break;
      case 4: get_str(body, [&](char const* s, int n) { env.set_cwd(HxString(s, n)); }); break;
      default: body.skip();
    }
  }
}

// The hash holds the pairs; the list that follows repeats their keys in order.
void get_pathmap(Reader& r, HxPathMap& map) {
  Reader body{nullptr, 0};
  if (!r.object(154, body)) return;
  while (body.next()) {
    Reader hash{nullptr, 0};
    if (body.field != 1 || !body.object(56, hash) || !hash.next() || hash.field != 1 || hash.i32() < 1) {
      body.skip();
      continue;
    }
    while (hash.next()) {
      int kn = 0, vn = 0;
      char const* key = hash.str(kn);
      if (key == nullptr || !hash.next()) break;
      char const* value = hash.str(vn);
      if (value == nullptr) break;
      map.addToDirectMap(HxString(key, kn), HxString(value, vn));
    }
  }
}

void get_job(Reader& r, HxJob& j) {
  while (r.next()) {
    switch (r.field) {
      case 1: j.id(r.i32()); break;
      case 2: j.pid(r.i32()); break;
      case 4: j.priority(r.i32()); break;
      case 31: j.localorder(r.i32()); break;
      case 32: j.globalorder(r.i32()); break;
      case 3: j.pgrp(r.i32()); break;
      case 5: STR(j, user); break;
      case 38: STR(j, domain); break;
      case 35: STR(j, password); break;
      case 6: j.status(HxStatus(get_one(r, 2, j.status().integervalue()))); break;
      case 7: get_list<HxSubjob>(r, 6, 4, j.subjobs(), get_subjob); break;
      case 8: STR(j, name); break;
      case 12: j.cpus(r.i32()); break;
      case 85: j.max_cpus(r.i32()); break;
      case 20: j.todo(r.i32()); break;
      case 9: STR(j, cluster); break;
      case 10: get_list<HxJob>(r, 5, 1, j.children(), get_job); break;
      case 11: get_list<HxWork>(r, 15, 14, j.agenda(), get_work); break;
      case 13: get_list<HxCallback>(r, 47, 46, j.callbacks(), get_callback); break;
      case 14: STR(j, requirements); break;
      case 30: STR(j, reservations); break;
      case 34: STR(j, restrictions); break;
      case 36: STR(j, groups); break;
      case 37: STR(j, hosts); break;
      case 41: STR(j, hostorder); break;
      case 15: STR(j, data); break;
      case 33: STR(j, queue); break;
      case 16: STR(j, prototype); break;
      case 17: STR(j, path); break;
      case 18: STR(j, reason); break;
      case 19: STR(j, logpath); break;
      case 21: get_tally(r, j.cpustally()); break;
      case 22: get_tally(r, j.todotally()); break;
      case 23: ONE(j, timesubmit, 33, HxTime); break;
      case 39: ONE(j, timestart, 33, HxTime); break;
      case 24: ONE(j, timecomplete, 33, HxTime); break;
      case 26: j.flags(r.i32()); break;
      case 27: STR(j, label); break;
      case 28: STR(j, account); break;
      case 29: get_env(r, j.env()); break;
      case 40: STR(j, kind); break;
      case 42: j.serverid(r.i32()); break;
      case 43: ONE(j, lastupdate, 33, HxTime); break;
      case 44: j.timeout(r.i32()); break;
      case 47: get_list<HxVariable>(r, 121, 120, j.variables(), get_variable); break;
      case 48: j.agendastatus(HxStatus(get_one(r, 2, j.agendastatus().integervalue()))); break;
      case 49: j.subjobstatus(HxStatus(get_one(r, 2, j.subjobstatus().integervalue()))); break;
      case 50: get_pathmap(r, j.pathmap()); break;
      case 51: j.retrysubjob(r.i32()); break;
      case 52: j.retrywork(r.i32()); break;
      case 53: STR(j, omithosts); break;
      case 60: STR(j, omitgroups); break;
      case 54: STR(j, dependency); break;
      case 55: ONE(j, deadline, 33, HxTime); break;
      case 56: STR(j, mailaddress); break;
      case 57: STR(j, notes); break;
      case 58: STR(j, prototypepath); break;
      case 59: j.sourcehost(HxAddress(get_one(r, 13, static_cast<int>(j.sourcehost().value())))); break;
      case 61: j.immediatecpus(r.i32()); break;
      case 62: j.maskstatus(HxStatus(get_one(r, 2, j.maskstatus().integervalue()))); break;
      case 63: ONE(j, eta, 33, HxTime); break;
      case 64: STR(j, range); break;
      case 65: j.agenda_timeout(r.i32()); break;
      case 66: j.auto_migrate_count(r.i32()); break;
      case 67: j.retrywork_delay(r.i32()); break;
      case 68: get_list<HxWork>(r, 15, 14, j.p_agenda(), get_work); break;
      case 69: j.p_agenda_priority(r.i32()); break;
      case 70: j.p_agenda_cpus(r.i32()); break;
      case 71: STR(j, prod_show); break;
      case 72: STR(j, prod_shot); break;
      case 73: STR(j, prod_seq); break;
      case 74: STR(j, prod_client); break;
      case 75: STR(j, prod_dept); break;
      case 76: STR(j, prod_custom1); break;
      case 77: STR(j, prod_custom2); break;
      case 78: STR(j, prod_custom3); break;
      case 79: STR(j, prod_custom4); break;
      case 80: STR(j, prod_custom5); break;
      case 81: STR(j, preflights); break;
      case 82: STR(j, postflights); break;
      case 83: STR(j, agenda_preflights); break;
      case 84: STR(j, agenda_postflights); break;
      default: r.skip();
    }
  }
}

bool decode_job(HxJob& j, char const* bytes, int size) {
  if (size < 4 || _rc_int32(bytes) != 1) return false;
  Reader r{bytes + 4, size - 4};
  get_job(r, j);
  return true;
}

bool decode_list(HxJobList& l, char const* bytes, int size) {
  if (size < 4 || _rc_int32(bytes) != 1) return false;
  Reader r{bytes + 4, size - 4};
  if (!r.next() || r.field != 1 || r.i32() < 1) return true;
  while (r.next()) {
    Reader item{nullptr, 0};
    bool ok = r.object(1, item);
    auto* j = new HxJob();
    if (ok) get_job(item, *j);
    l.append(j);
    if (!ok) break;
  }
  return true;
}

#undef STR
#undef ONE

// The hand-written codec must write and read exactly what the codec does,
// or the comparison means nothing.
bool hand_codec_matches(benchmark::State& state) {
  static int verdict = -1;
  if (verdict < 0) {
    std::string const want = bytes_of(sample());
    Writer out;
    encode_job(sample(), out);
    HxJob back;
    decode_job(back, want.data(), static_cast<int>(want.size()));
    std::string const list = bytes_of(sample_list());
    encode_list(sample_list(), out);
    bool list_same = std::string(out.data(), static_cast<size_t>(out.size())) == list;
    HxJobList back_list;
    decode_list(back_list, list.data(), static_cast<int>(list.size()));
    encode_job(sample(), out);
    verdict = std::string(out.data(), static_cast<size_t>(out.size())) == want && bytes_of(back) == want &&
              list_same && bytes_of(back_list) == list;
  }
  if (!verdict) state.SkipWithError("the hand-written codec does not match the codec's bytes");
  return verdict == 1;
}

// ---- one job ----

void BM_Hand_EncodeJob(benchmark::State& state) {
  if (!hand_codec_matches(state)) return;
  Writer out;
  HxBenchRun run(state);
  for (auto _ : state) {
    encode_job(sample(), out);
    benchmark::DoNotOptimize(out.data());
  }
  run.done(1, "encode job");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * out.size());
}
BENCHMARK(BM_Hand_EncodeJob);

void BM_PackJob(benchmark::State& state) {
  HxJob& j = sample();
  HxBenchRun run(state);
  for (auto _ : state) {
    j.pack();
    benchmark::DoNotOptimize(j.packContents());
  }
  run.done(1, "pack job", "encode job");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * j.packSize());
  state.counters["wire_bytes"] = j.packSize();
}
BENCHMARK(BM_PackJob);

void BM_Hand_DecodeJob(benchmark::State& state) {
  if (!hand_codec_matches(state)) return;
  std::string const bytes = bytes_of(sample());
  HxBenchRun run(state);
  for (auto _ : state) {
    HxJob j;
    benchmark::DoNotOptimize(decode_job(j, bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(1, "decode job");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Hand_DecodeJob);

void BM_UnpackJob(benchmark::State& state) {
  std::string const bytes = bytes_of(sample());
  HxBenchRun run(state);
  for (auto _ : state) {
    HxJob j;
    benchmark::DoNotOptimize(j.unpack(bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(1, "unpack job", "decode job");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_UnpackJob);

// ---- 10,000 jobs ----

void BM_Hand_EncodeJobList10k(benchmark::State& state) {
  if (!hand_codec_matches(state)) return;
  Writer out;
  HxBenchRun run(state);
  for (auto _ : state) {
    encode_list(sample_list(), out);
    benchmark::DoNotOptimize(out.data());
  }
  run.done(10000, "encode list");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * out.size());
}
BENCHMARK(BM_Hand_EncodeJobList10k)->Unit(benchmark::kMillisecond);

void BM_PackJobList10k(benchmark::State& state) {
  HxJobList& l = sample_list();
  HxBenchRun run(state);
  for (auto _ : state) {
    l.pack();
    benchmark::DoNotOptimize(l.packContents());
  }
  run.done(10000, "pack list", "encode list");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * l.packSize());
  state.counters["wire_bytes"] = l.packSize();
}
BENCHMARK(BM_PackJobList10k)->Unit(benchmark::kMillisecond);

void BM_Hand_DecodeJobList10k(benchmark::State& state) {
  if (!hand_codec_matches(state)) return;
  std::string const bytes = bytes_of(sample_list());
  HxBenchRun run(state);
  for (auto _ : state) {
    HxJobList l;
    benchmark::DoNotOptimize(decode_list(l, bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(10000, "decode list");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Hand_DecodeJobList10k)->Unit(benchmark::kMillisecond);

void BM_UnpackJobList10k(benchmark::State& state) {
  std::string const bytes = bytes_of(sample_list());
  HxBenchRun run(state);
  for (auto _ : state) {
    HxJobList l;
    benchmark::DoNotOptimize(l.unpack(bytes.data(), static_cast<int>(bytes.size())));
  }
  run.done(10000, "unpack list", "decode list");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_UnpackJobList10k)->Unit(benchmark::kMillisecond);

// ---- the memory of a decoded default job ----

// Bytes of the object plus the heap it holds after decoding a default job's
// records; the transport's limits on jobs per message are sized from it.
void BM_DefaultJobMemory(benchmark::State& state) {
  HxJob fresh;
  std::string const bytes = bytes_of(fresh);
  double heap = 0;
  for (auto _ : state) {
    size_t before = mallinfo2().uordblks;
    auto* j = new HxJob();
    j->unpack(bytes.data(), static_cast<int>(bytes.size()));
    heap = static_cast<double>(mallinfo2().uordblks - before);
    delete j;
  }
  state.counters["bytes/job"] = heap;
  state.counters["sizeof"] = static_cast<double>(sizeof(HxJob));
  state.counters["wire_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_DefaultJobMemory)->Iterations(100);

}  // namespace
