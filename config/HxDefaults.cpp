#include "config/HxDefaults.h"

#include "core/HxAtLoad.h"
#include "core/HxDebug.h"
#include "core/HxPath.h"
#include "core/HxProcessLocks.h"

namespace {

// A text default: a literal, or a suffix to the installation directory.
struct TextDefault {
  int number;
  bool on_dir;
  char const* text;
};

// The job-type search path (112, 302, 402) is built apart: it also needs the
// directory beside the installation directory.
constexpr char const* kJobTypePath = nullptr;

TextDefault const kTextDefaults[] = {
    {0, false, "/Applications/kmo/tarv"},
    {1, false, "/etc/hx.conf"},
    {3, false, "/"},
    {8, false, "/var/spool/tarv"},
    {9, false, "/var/spool/tarv/backup"},
    {12, false, "/var/log/manifestlog"},
    {13, false, "/var/log/supelog"},
    {16, false, "Internal"},
    {17, false, "cluster"},
    {19, false, "/etc/hxwrk.conf"},
    {20, false, "open"},
    {21, false, "enabled"},
    {30, false, "/var/spool/tarv/supe.jnl"},
    {32, false, "/tmp"},
    {33, false, "Internal"},
    {34, false, "none"},
    {35, false, "/var/run/supervisor.pid"},
    {37, false, "/etc/hxsslcert.pem"},
    {38, false, "/etc/hxsslkey.pem"},
    {47, true, "/public"},
    {49, true, "/html"},
    {55, true, "/pgsql/data"},
    {59, false, ""},
    {70, false, ""},
    {78, true, "/callback"},
    {80, false, "localhost"},
    {101, false, "/etc/hx.conf"},
    {102, true, "/sbin/proxy"},
    {103, false, "/var/spool/tarv/worker.jnl"},
    {104, false, "/"},
    {109, false, "proxy"},
    {111, false, "/var/spool/tarv"},
    {112, true, kJobTypePath},
    {114, false, "/var/log/workerlog"},
    {117, false, "remote"},
    {121, false, ""},
    {122, false, "/var/run/worker.pid"},
    {123, false, "local,supervisor"},
    {124, false, "/etc/hxsslcert.pem"},
    {125, false, "/etc/hxsslkey.pem"},
    {129, false, "tarvproxy"},
    {130, false, "\\"},
    {136, true, "/flightCheck"},
    {201, false, "/src/api/perl/hx"},
    {202, false, "3f9a0c2e7b15d84e6a0f2c9b71d3e58a04c6b2f9e1d7a3c58b0e4f2a6d9c1b73"},
    {301, false, "/etc/hx.conf"},
    {302, true, kJobTypePath},
    {304, false, "/tmp"},
    {401, false, "/etc/hx.conf"},
    {402, true, kJobTypePath},
    {403, true, "/lib/gui/icons"},
    {404, true, "/lib/gui/html"},
    {405, true, "/docs"},
    {406, false, "/tmp"},
    {407, true, "/lib/gui/pr"},
    {408, true, "/lib/wizard"},
    {501, false, "/etc/hx.conf"},
    {502, false, "/tmp/mysql.sock"},
    {503, false, ""},
    {505, false, "tarv"},
    {506, false, "Wr4!nKe9?"},
    {601, false, "/etc/hx.conf"},
    {605, true, "/etc/job.mail"},
    {606, true, "/etc/subjob.mail"},
    {607, true, "/etc/work.mail"},
    {609, true, "/etc/report.mail"},
    {611, false, "tarv"},
    {612, true, "/etc/notification.mail"},
    {801, false, "/etc/hx.conf"},
};

struct IntDefault {
  int number;
  int value;
};

IntDefault const kIntDefaults[] = {
    {2, 9999},      {4, 100},       {5, 256},     {6, 64},      {7, 1},        {10, 50001},   {11, 127},
    {15, 600},      {22, 127},      {23, 360},    {24, 6150},   {25, 720},     {29, 8},       {31, 9999},
    {36, 1200},     {39, 8},        {40, 86400},  {41, 16},     {42, 45},      {43, 600},     {44, 524288},
    {46, 600},      {48, 44444},    {49, 50002},  {50, 524288}, {52, 10},      {53, 5242880}, {54, 136314867},
    {56, -4353},    {57, 16384},    {58, -1},     {60, -1},     {71, 1},       {73, 1},       {75, 100},
    {76, -1},       {77, 2},        {79, -1},     {81, 50005},  {105, 500},    {106, 512},
    {110, 1800},    {113, 50011},   {116, 43200}, {118, 10},    {119, 12},     {120, 120},    {126, 32},
    {127, 256},     {128, 4},       {131, 524288}, {132, 30},   {133, 1},      {134, 30},     {305, 8},
    {306, 600000},  {504, 50055},   {507, 1},     {610, 144},   {701, 50002},  {802, 3},      {803, 5},
};

// The installation directory and the level of its last source, for the
// whole process, under the process lock kInstallDir.
struct DirState {
  HxString dir{"/Applications/kmo/tarv"};
  int level = kHxDirLevelBuiltIn;
};

DirState& dir_state() {
  static DirState* state = new DirState();  // never destroyed: used until exit
  return *state;
}

HxAtLoad const g_dir_at_load(dir_state);

TextDefault const* find_text(int number) {
  for (TextDefault const& d : kTextDefaults)
    if (d.number == number) return &d;
  return nullptr;
}

}  // namespace

HxString hx_default_get_hxdir() {
  DirState& s = dir_state();
  HxProcessLockHold hold(HxProcessLock::kInstallDir);
  return s.dir;
}

void hx_default_set_hxdir(HxString const& path, int level) {
  if (path.length() == 0) return;
  DirState& s = dir_state();
  HxProcessLockHold hold(HxProcessLock::kInstallDir);
  if (level <= s.level) return;
  s.dir = path;
  s.level = level;
}

void _hx_default_reset_hxdir() {
  DirState& s = dir_state();
  HxProcessLockHold hold(HxProcessLock::kInstallDir);
  s.dir = "/Applications/kmo/tarv";
  s.level = kHxDirLevelBuiltIn;
}

int hx_default_int(int number) {
  for (IntDefault const& d : kIntDefaults)
    if (d.number == number) return d.value;
  return 0;
}

int hx_oem_default_int(int number) {
  switch (number) {
    case 22:
      return 16;
    case 24:
      return 4630;
    case 54:
      return -1;
    case 107:
      return 1;
    default:
      return hx_default_int(number);
  }
}

HxString hx_oem_default_string(int number) {
  switch (number) {
    case 1:
    case 101:
    case 301:
    case 401:
    case 501:
    case 601:
    case 801:
      return HxString("");
    case 17:
      return HxString("priority");
    default:
      return hx_default_string(number);
  }
}

HxString hx_default_string(int number) {
  TextDefault const* d = find_text(number);
  if (d == nullptr) {
    HxDebug& log = *hx_debug_obj();
    log.lock();
    log.mark() << "WARNING: hx_default_string() unknown value[" << number << "]" << '\n';
    log.unlock();
    return HxString("");
  }
  if (!d->on_dir) return HxString(d->text);
  HxString out = hx_default_get_hxdir();
  if (d->text != kJobTypePath) {
    out += d->text;
    return out;
  }
  // The installation directory's "types", then "jobtypes" beside it.
  HxString parent = HxPath::chomp(out);
  out += "/types:";
  out += parent;
  out += "jobtypes";
  return out;
}
