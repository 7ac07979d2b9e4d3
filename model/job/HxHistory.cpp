#include "model/job/HxHistory.h"

#include <cstring>

#include "core/HxFile.h"
#include "core/HxLimits.h"
#include "model/job/HxJobLimits.h"
#include "model/job/HxLog.h"

namespace {

// The text with each line feed, and with tabs also each TAB, as a blank.
void put_blanked(HxString& line, HxString const& text, bool tabs) {
  char const* p = text.value();
  int const n = text.length();
  int from = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] != '\n' && !(tabs && p[i] == '\t')) continue;
    line.append(p + from, i - from);
    line += ' ';
    from = i + 1;
  }
  line.append(p + from, n - from);
}

HxString line(int job, char const* kind, HxString const& id, HxString const& text, HxString const& comment) {
  HxTime now;
  now.setToNow();
  HxString s("[");
  s += now.ascii();
  s += "]\t";
  s += now.value();
  s += '\t';
  s += kind;
  s += '\t';
  s += job;
  s += '\t';
  put_blanked(s, id, true);
  s += '\t';
  put_blanked(s, text, false);
  s += " (";
  put_blanked(s, comment, false);
  s += ")\n";
  return s;
}

void read_file(HxString const& path, int what, int sub, HxString const& workid, HxHistoryList& list) {
  if (path.length() == 0) return;
  HxString text;
  if (!HxFile::_read(path, text, kHxMaxFileBytes - 1)) return;
  HxHistory::_read(text, what, sub, workid, list);
}

bool equals(char const* p, int n, char const* word) {
  return static_cast<size_t>(n) == std::strlen(word) && std::memcmp(p, word, static_cast<size_t>(n)) == 0;
}

}  // namespace

HxString HxHistory::data(int job, HxString const& text, HxString const& comment) {
  return line(job, "job", HxString("-1"), text, comment);
}

HxString HxHistory::data(int job, int sub, HxString const& text, HxString const& comment) {
  return line(job, "subjob", HxString(sub), text, comment);
}

HxString HxHistory::data(int job, HxString const& workid, HxString const& text, HxString const& comment) {
  return line(job, "work", workid, text, comment);
}

void HxHistory::query(HxString const& base, int job, HxHistoryList& list) {
  read_file(HxLog::joblogfile(base, job, HxLog::kHistory), 0, 0, HxString(), list);
}

void HxHistory::query(HxString const& base, int job, int sub, HxHistoryList& list) {
  read_file(HxLog::joblogfile(base, job, HxLog::kHistory), 1, sub, HxString(), list);
}

void HxHistory::query(HxString const& base, int job, HxString const& workid, HxHistoryList& list) {
  read_file(HxLog::joblogfile(base, job, HxLog::kHistory), 2, 0, workid, list);
}

void HxHistory::queryHost(HxString const& base, HxString const& host, HxHistoryList& list) {
  if (!HxLog::safename(host)) return;
  read_file(HxLog::hostlogfile(base, host, HxLog::kHostHistory), 0, 0, HxString(), list);
}

void HxHistory::_read(HxString const& text, int what, int sub, HxString const& workid, HxHistoryList& list) {
  char const* p = text.value();
  char const* const end = p + text.length();
  int added = 0;
  while (p < end && added < kHxMaxHistoryEntries) {
    char const* lf = static_cast<char const*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    char const* const stop = lf == nullptr ? end : lf;
    char const* const start = p;
    p = lf == nullptr ? end : lf + 1;
    if (stop == start) continue;
    // Fields 1 to 5 end at the next TAB; the sixth is the rest, TABs and all.
    char const* at[6];
    int len[6];
    char const* c = start;
    for (int f = 0; f < 6; ++f) {
      at[f] = c;
      char const* tab = f < 5 ? static_cast<char const*>(std::memchr(c, '\t', static_cast<size_t>(stop - c))) : nullptr;
      char const* e = tab == nullptr ? stop : tab;
      len[f] = static_cast<int>(e - c);
      c = tab == nullptr ? stop : tab + 1;
    }
    char const* kind = at[2];
    int const kl = len[2];
    HxString const id(at[4], len[4]);
    bool const work = equals(kind, kl, "work");
    bool const subjob = equals(kind, kl, "subjob");
    if (what == 1 && (!(work || subjob) || id.integervalue() != sub)) continue;
    if (what == 2 && (!work || id != workid)) continue;
    auto* h = new HxHistory();
    h->stamp_.value(HxString(at[1], len[1]).integervalue());
    h->jobid_ = HxString(at[3], len[3]).integervalue();
    h->comment_ = HxString(at[5], len[5]);
    if (what == 1) {
      h->subid_ = id.integervalue();
    } else if (work) {
      h->workid_ = id;
    } else if (subjob) {
      h->subid_ = id.integervalue();
    }
    list.append(h);
    ++added;
  }
}
