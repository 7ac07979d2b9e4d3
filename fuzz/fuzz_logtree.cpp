// Arbitrary texts read as files of the job log tree: map files, subjob logs
// cut into one work item's sections, history files, and directory entry
// names. Each reader stays within its input and ends; what it returns is
// checked against what the input can give.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/HxRegEx.h"
#include "model/job/HxHistory.h"
#include "model/job/HxJobLimits.h"
#include "model/job/HxLog.h"

namespace {

// The text up to the first NUL names the work item (or the job); the rest is
// the file.
void split(char const* p, size_t n, HxString& name, HxString& text) {
  void const* nul = std::memchr(p, 0, n);
  size_t const cut = nul == nullptr ? 0 : static_cast<size_t>(static_cast<char const*>(nul) - p);
  name = HxString(p, static_cast<int>(cut));
  size_t const from = nul == nullptr ? 0 : cut + 1;
  text = HxString(p + from, static_cast<int>(n - from));
}

void map_file(char const* p, size_t n) {
  HxString name, text;
  split(p, n, name, text);
  int const sub = HxLog::_readmap(text, name);
  // A subjob comes from a line that holds the name after three TABs.
  if (sub != -1 && (name.length() > text.length() || text.find(HxString("\t")) == 0)) __builtin_trap();
}

void sections(char const* p, size_t n) {
  if (n < 1) return;
  long long const limit = static_cast<signed char>(p[0]);
  HxString name, text;
  split(p + 1, n - 1, name, text);
  HxString out;
  HxLog::_section(text, name, limit, out);
  // Whole lines of the text, no more of them than the limit allows.
  if (out.length() > text.length()) __builtin_trap();
  if (out.length() > 0 && text.find(HxString("got work:")) == 0) __builtin_trap();
  int lines = 0;
  for (int i = 0; i < out.length(); ++i) lines += out.value()[i] == '\n';
  if (limit >= 1 && lines > limit) __builtin_trap();
}

// The recogniser of a section's first line answers as the expression does;
// short lines only, where the expression's backtracking stays cheap.
void work_line(char const* p, size_t n) {
  if (n > 512) return;
  static HxRegEx re(HxString("got work:\\s*\\d+:(.+)\\s+-"));
  HxString const line(p, static_cast<int>(n));
  HxStringList groups;
  bool const want = re.match(line, groups);
  char const* name = nullptr;
  int length = 0;
  bool const got = HxLog::_workline(p, static_cast<int>(n), &name, &length);
  if (got != want) __builtin_trap();
  if (got && HxString(name, length) != *groups.get(0)) __builtin_trap();
}

void history(char const* p, size_t n) {
  if (n < 1) return;
  int const what = p[0] % 3;
  HxString workid, text;
  split(p + 1, n - 1, workid, text);
  HxHistoryList list;
  HxHistory::_read(text, what < 0 ? -what : what, workid.integervalue(), workid, list);
  // At most one entry per non-empty line.
  int lines = 1;
  for (int i = 0; i < text.length(); ++i) lines += text.value()[i] == '\n';
  if (list.length() > lines || list.length() > kHxMaxHistoryEntries) __builtin_trap();
  for (int i = 0; i < list.length(); ++i)
    if (list.get(i)->comment().length() > text.length()) __builtin_trap();
}

void entry_name(char const* p, size_t n) {
  if (n < 4) return;
  int job;
  std::memcpy(&job, p, 4);
  HxString const name(p + 4, static_cast<int>(n - 4));
  int sub = -1;
  HxString ext;
  if (!HxLogList::_matchname(name, job, &sub, &ext)) return;
  // The numbers are the name's own digits: never negative, never wrapped.
  if (job < 0 || sub < 0 || ext.length() == 0 || ext.length() > name.length()) __builtin_trap();
  HxString const prefix(job);
  if (std::string(name.value(), static_cast<size_t>(name.length())).find(prefix.value()) == std::string::npos)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  char const* p = reinterpret_cast<char const*>(data) + 1;
  size_t const n = size - 1;
  switch (data[0] % 5) {
    case 0: map_file(p, n); break;
    case 1: sections(p, n); break;
    case 2: work_line(p, n); break;
    case 3: history(p, n); break;
    default: entry_name(p, n); break;
  }
  return 0;
}
