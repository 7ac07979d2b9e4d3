#include "model/job/HxLog.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>

#include "core/HxFile.h"
#include "core/HxTime.h"
#include "model/job/HxCommand.h"

namespace {

// The first thousand below or at id, rounded toward zero (-1 gives 0).
int thousand(int id) { return (id / 1000) * 1000; }

HxString under(HxString const& base, char const* word) {
  HxString p(base);
  p += '/';
  p += word;
  return p;
}

HxString numbered(HxString dir, int id) {
  dir += '/';
  dir += id;
  return dir;
}

HxString named(HxString const& base, char const* word, HxString const& name) {
  if (!HxLog::safename(name)) return HxString("");
  HxString p = under(base, word);
  p += '/';
  p += name;
  return p;
}

// "dir/name." and the extension ("hst" only for the history type).
HxString namedfile(HxString const& dir, HxString const& name, bool history) {
  if (dir.length() == 0) return HxString("");
  HxString p(dir);
  p += '/';
  p += name;
  p += '.';
  if (history) p += "hst";
  return p;
}

// One level of the tree with mode 0777 whatever the creation mask; a level
// that exists or whose parent is missing is passed over.
void make_level(HxString const& path) {
  if (path.length() == 0) return;
  if (::mkdir(path.value(), 0777) == 0) ::chmod(path.value(), 0777);
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr char kGotWork[] = "got work:";
constexpr int kGotWorkLength = sizeof kGotWork - 1;

char const* find_got_work(char const* from, char const* end) {
  if (end - from < kGotWorkLength) return nullptr;
  return static_cast<char const*>(::memmem(from, static_cast<size_t>(end - from), kGotWork, kGotWorkLength));
}

// The leading decimal digits at p[*at..n) as an int; false when there are
// none or they exceed the int range. *at moves past them.
bool read_digits(char const* p, int n, int* at, int* value) {
  int i = *at;
  long long v = 0;
  bool overflow = false;
  while (i < n && is_digit(p[i])) {
    if (!overflow) {
      v = v * 10 + (p[i] - '0');
      if (v > INT_MAX) overflow = true;
    }
    ++i;
  }
  if (i == *at || overflow) return false;
  *at = i;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

// ---- the record ----------------------------------------------------------------

HxLog::HxLog(HxString const& path) {
  fullsize_ = HxFile::size(path);
  HxString text("");
  HxFile::loadpos(path, 0, -1, text);
  data_ = text;
}

HxLog::HxLog(HxString const& base, int job, int sub, int type, int pos, long long count) {
  cls_ = type;
  jobid_ = job;
  subid_ = sub < 0 ? 0 : sub;
  pos_ = pos;
  loaddata(joblogfile(base, job, subid_, type), pos, count);
}

HxLog::HxLog(HxString const& base, int job, HxString const& workname, int type, int pos, long long maxlines) {
  cls_ = type;
  jobid_ = job;
  workname_ = workname;
  subid_ = readmap(base, job, workname);
  fullsize_ = 0;
  loaddata(joblogfile(base, job, subid_, type), workname, pos, maxlines);
}

void HxLog::copy(HxLog const& other) {
  if (&other == this) return;
  jobid_ = other.jobid_;
  subid_ = other.subid_;
  data_ = other.data_;
  host_ = other.host_;
  cls_ = other.cls_;
  workid_ = other.workid_;
  workname_ = other.workname_;
  pos_ = other.pos_;
  fullsize_ = other.fullsize_;
}

long long HxLog::loaddata(HxString const& path, int pos, long long count) {
  pos_ = pos;
  fullsize_ = HxFile::size(path);
  HxString text("");
  long long at = HxFile::loadpos(path, pos, count, text);
  data_ = text;
  return at;
}

int HxLog::loaddata(HxString const& path, HxString const& workname, int pos, long long maxlines) {
  // The whole file from its beginning, whatever pos says.
  HxString text("");
  HxFile::loadpos(path, 0, text);
  _section(text, workname, maxlines, data_);
  pos_ = pos;
  fullsize_ = HxFile::size(path);
  return data_.length();
}

void HxLog::_section(HxString const& text, HxString const& workname, long long maxlines, HxString& out) {
  char const* p = text.value();
  char const* const end = p + text.length();
  bool inside = false;
  long long lines = 0;
  while (p < end) {
    if (!inside) {
      // Only a line holding "got work:" can open a section: go straight to
      // the next one, from the start of its line.
      char const* hit = find_got_work(p, end);
      if (hit == nullptr) break;
      char const* start = hit;
      while (start > p && start[-1] != '\n') --start;
      p = start;
    }
    char const* lf = static_cast<char const*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    char const* next = lf == nullptr ? end : lf + 1;
    int const n = static_cast<int>(next - p);
    char const* name = nullptr;
    int length = 0;
    if (_workline(p, n, &name, &length))
      inside = length == workname.length() && std::memcmp(name, workname.value(), static_cast<size_t>(length)) == 0;
    if (inside) {
      out.append(p, n);
      ++lines;
      if (maxlines >= 1 && lines >= maxlines) break;
    }
    p = next;
  }
}

// The line matches "got work:\s*\d+:(.+)\s+-" at its leftmost possible start.
// White space and digits are disjoint and ":" is neither, so after
// "got work:" the white space and the digits are each taken whole. The group
// is greedy and cannot hold a line feed: it ends at the last position p (one
// byte in at least, and at most at the first line feed) where a run of white
// space begins that a dash ends. A start that finds no such p fails, and so
// does every later start before that line feed, having less room still.
bool HxLog::_workline(char const* line, int n, char const** name, int* length) {
  char const* const end = line + n;
  char const* from = line;
  while (char const* hit = find_got_work(from, end)) {
    char const* q = hit + kGotWorkLength;
    from = hit + 1;
    while (q < end && is_space(*q)) ++q;
    char const* digits = q;
    while (q < end && is_digit(*q)) ++q;
    if (q == digits || q >= end || *q != ':') continue;
    char const* const group = q + 1;
    char const* lf = static_cast<char const*>(std::memchr(group, '\n', static_cast<size_t>(end - group)));
    char const* const stop = lf == nullptr ? end : lf;
    // From the right: whether the white space run from p on ends at a dash.
    bool dashed = false;
    for (char const* p = end - 1; p > group; --p) {
      dashed = is_space(*p) && p + 1 < end && (p[1] == '-' || dashed);
      if (dashed && p <= stop) {
        *name = group;
        *length = static_cast<int>(p - group);
        return true;
      }
    }
    if (lf == nullptr) return false;
    from = lf + 1;
  }
  return false;
}

HxString HxLog::uniquename() const {
  HxString s(workid_);
  s += ':';
  s += jobid_;
  s += ':';
  s += subid_;
  s += ':';
  s += workname_;
  return s;
}

// ---- the tree ------------------------------------------------------------------

bool HxLog::safename(HxString const& name) {
  if (name == HxString("..")) return false;
  char const* p = name.value();
  for (int i = 0; i < name.length(); ++i)
    if (p[i] == '/' || p[i] == '\0') return false;
  return true;
}

HxString HxLog::logext(int type) {
  static char const* const kExt[] = {"", "out", "err", "sts", "", "", "", "", "hst", "hja", "acc", "cb", "", "xja", "mail", "map"};
  if (type < 0 || type > 15) return HxString("");
  return HxString(kExt[type]);
}

HxString HxLog::joblogdir(HxString const& base) { return under(base, "job"); }
HxString HxLog::joblogbasedir(HxString const& base, int id) { return numbered(joblogdir(base), thousand(id)); }
HxString HxLog::joblogdir(HxString const& base, int id) { return numbered(joblogbasedir(base, id), id); }
HxString HxLog::pgrplogdir(HxString const& base) { return under(base, "pgrp"); }
HxString HxLog::pgrplogbasedir(HxString const& base, int id) { return numbered(pgrplogdir(base), thousand(id)); }
HxString HxLog::pgrplogdir(HxString const& base, int id) { return numbered(pgrplogbasedir(base, id), id); }
HxString HxLog::hostlogdir(HxString const& base) { return under(base, "host"); }
HxString HxLog::hostlogdir(HxString const& base, HxString const& host) { return named(base, "host", host); }
HxString HxLog::userlogdir(HxString const& base) { return under(base, "user"); }
HxString HxLog::userlogdir(HxString const& base, HxString const& user) { return named(base, "user", user); }

HxString HxLog::joblogfile(HxString const& base, int job, int sub, int type) {
  HxString p = joblogdir(base, job);
  p += '/';
  p += job;
  if ((type & kJobScopeBit) == 0) {
    p += '_';
    p += sub;
  }
  p += '.';
  p += logext(type);
  return p;
}

HxString HxLog::joblogfile(HxString const& base, int job, int sub, HxString const& ext) {
  HxString p = joblogdir(base, job);
  p += '/';
  p += job;
  p += '_';
  p += sub;
  p += '.';
  p += ext;
  return p;
}

HxString HxLog::hostlogfile(HxString const& base, HxString const& host, int type) {
  return namedfile(hostlogdir(base, host), host, type == kHostHistory);
}

HxString HxLog::userlogfile(HxString const& base, HxString const& user, int type) {
  return namedfile(userlogdir(base, user), user, type == kUserHistory);
}

void HxLog::jobbuilddir(HxString const& base, int id) {
  make_level(joblogdir(base));
  make_level(joblogbasedir(base, id));
  make_level(joblogdir(base, id));
}

void HxLog::pgrpbuilddir(HxString const& base, int id) {
  make_level(pgrplogdir(base));
  make_level(pgrplogbasedir(base, id));
  make_level(pgrplogdir(base, id));
}

void HxLog::hostbuilddir(HxString const& base, HxString const& host) {
  if (!safename(host)) return;
  make_level(hostlogdir(base));
  make_level(hostlogdir(base, host));
}

void HxLog::userbuilddir(HxString const& base, HxString const& user) {
  if (!safename(user)) return;
  make_level(userlogdir(base));
  make_level(userlogdir(base, user));
}

bool HxLog::islocal(HxString const& base, int id) { return HxDir::isdir(joblogdir(base, id)); }

bool HxLog::islocal(HxString const& base, HxCommand& cmd) {
  HxJobIdList const& ids = cmd.jobids();
  for (int i = 0; i < ids.length(); ++i) {
    HxJobId const* id = ids.get(i);
    if (id != nullptr && islocal(base, id->id())) return true;
  }
  return false;
}

// ---- the map file ----------------------------------------------------------------

void HxLog::writemap(HxString const& base, int job, int sub, int number, HxString const& workname) {
  HxString line(job);
  line += '\t';
  line += sub;
  line += '\t';
  line += number;
  line += '\t';
  line += workname;
  line += '\n';
  HxFile::append(joblogfile(base, job, sub, kMap), line);
}

int HxLog::readmap(HxString const& base, int job, HxString const& workname) {
  return _readmap(HxFile::load(joblogfile(base, job, 0, kMap)), workname);
}

int HxLog::_readmap(HxString const& text, HxString const& workname) {
  char const* p = text.value();
  char const* const end = p + text.length();
  HxString line;
  while (p < end) {
    char const* lf = static_cast<char const*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    char const* const stop = lf == nullptr ? end : lf;
    // The line without its carriage returns, wherever they stand.
    line.copy("");
    for (char const* c = p; c < stop;) {
      char const* cr = static_cast<char const*>(std::memchr(c, '\r', static_cast<size_t>(stop - c)));
      char const* upto = cr == nullptr ? stop : cr;
      line.append(c, static_cast<int>(upto - c));
      c = upto == stop ? stop : upto + 1;
    }
    p = lf == nullptr ? end : lf + 1;
    // Fields at TABs; an empty last field does not count, so the line needs
    // a fourth field that is not empty or a fifth one after it.
    char const* l = line.value();
    int const n = line.length();
    int starts[5] = {0, 0, 0, 0, 0};
    int ends[4] = {n, n, n, n};
    int fields = 1;
    for (int i = 0; i < n && fields <= 4; ++i) {
      if (l[i] != '\t') continue;
      ends[fields - 1] = i;
      if (fields < 5) starts[fields] = i + 1;
      ++fields;
    }
    int count = fields;
    if (fields <= 4 && starts[fields - 1] >= n) --count;  // trailing empty part
    if (count < 4) continue;
    int const wl = ends[3] - starts[3];
    if (wl != workname.length() || std::memcmp(l + starts[3], workname.value(), static_cast<size_t>(wl)) != 0)
      continue;
    return HxString(l + starts[1], ends[1] - starts[1]).integervalue();
  }
  return -1;
}

HxString HxLog::uniquefile() { return HxFile::uniquefile(); }

HxString HxLog::separate(int /*job*/, int /*sub*/) {
  HxTime now;
  now.setToNow();
  HxString s("\n=================  tarv! - retry/requeue on ");
  s += now.ascii();
  s += "  ===================\n\n";
  return s;
}

// ---- the list ----------------------------------------------------------------------

bool HxLogList::_matchname(HxString const& name, int job, int* sub, HxString* ext) {
  char const* p = name.value();
  int const n = name.length();
  int at = 0, value = 0;
  if (!read_digits(p, n, &at, &value) || value != job) return false;
  ++at;  // any one character
  if (at > n || !read_digits(p, n, &at, sub)) return false;
  ++at;
  if (at >= n) return false;
  *ext = HxString(p + at, n - at);
  return true;
}

void HxLogList::load(HxString const& base, int job, int type) {
  HxDir listing(HxLog::joblogdir(base, job));
  HxString const want = HxLog::logext(type);
  HxString ext;
  for (int i = 0; i < listing.length(); ++i) {
    HxString const* name = listing.get(i);
    int sub = 0;
    if (name == nullptr || !_matchname(*name, job, &sub, &ext) || ext != want) continue;
    append(new HxLog(base, job, sub, type, 0, -1));
  }
}

void HxLogList::load(HxString const& base, HxCommand& cmd, HxString note, int limit, int type) {
  long long position = 0, length = -1;
  HxFilterList const& filters = cmd.filters();
  for (int i = 0; i < filters.length(); ++i) {
    HxFilter const* f = filters.get(i);
    if (f == nullptr || f->fields().length() < 1) continue;
    if (f->name() == HxString("pos")) position = f->fields().get(0)->value().integervalue();
    if (f->name() == HxString("len")) length = f->fields().get(0)->value().integervalue();
  }
  // In 64 bits: the largest limit has no int successor.
  if (limit >= 1 && (length < 0 || length > limit)) length = static_cast<long long>(limit) + 1;
  auto noted = [&](HxLog* log) {
    if (limit > 0 && log->data().length() > limit) {
      log->append(HxString("\n"));
      log->append(note);
      log->append(HxString("\n"));
    }
    append(log);
  };
  int const pos = static_cast<int>(position);
  HxWorkIdList const& works = cmd.workids();
  for (int i = 0; i < works.length(); ++i) {
    HxWorkId const* w = works.get(i);
    if (w == nullptr || w->name().length() == 0) continue;
    noted(new HxLog(base, w->id(), w->name(), type, pos, length));
  }
  HxJobIdList const& jobs = cmd.jobids();
  for (int i = 0; i < jobs.length(); ++i) {
    HxJobId const* j = jobs.get(i);
    if (j == nullptr) continue;
    noted(new HxLog(base, j->id(), j->subid(), type, pos, length));
  }
}
