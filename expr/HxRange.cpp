#include "expr/HxRange.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "expr/HxExprLimits.h"
#include "expr/HxExpression.h"

namespace {

// Range text takes tab, line feed and space as blanks (not carriage return).
bool is_blank(char c) { return c == '\t' || c == '\n' || c == ' '; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Text that pattern splitting gives back whole: no comma, no bracket, none
// of the blanks the comma splitter drops (tab, line feed, carriage return,
// space), and not a range. A secure text is left to the full split, whose
// names are never secure.
bool plain_name(HxString const& text) {
  char const* p = text.value();
  int const n = text.length();
  if (n == 0 || text.secure()) return false;
  for (int i = 0; i < n; ++i) {
    char c = p[i];
    if (c == ',' || c == '[' || c == ']' || c == ' ' || c == '\t' || c == '\n' || c == '\r') return false;
  }
  return !HxRange::isrange(text);
}

enum ReadResult { kReadEnd, kReadFail, kReadOk };

// Reads one number at pos: blanks, an optional "-", then digits. At the end
// of the text nothing is written (kReadEnd); without digits the value becomes
// 0 (kReadFail). Digits accumulate in 64 bits and saturate, so a number
// beyond the 32-bit range reads as the nearest 32-bit bound. When the reading
// started at position 0 and `padding` is given, it receives the digit count
// (capped), or 0 on failure.
ReadResult read_number(HxString const& text, int& pos, int& value, int* padding) {
  bool at_start = pos == 0;
  char const* s = text.value();
  int n = text.length();
  while (pos < n && is_blank(s[pos])) ++pos;
  if (pos >= n) return kReadEnd;
  bool negative = false;
  if (s[pos] == '-') {
    negative = true;
    ++pos;
  }
  int digits = 0;
  int64_t magnitude = 0;
  while (pos < n && is_digit(s[pos])) {
    if (magnitude <= static_cast<int64_t>(INT_MAX) + 1) magnitude = magnitude * 10 + (s[pos] - '0');
    ++digits;
    ++pos;
  }
  if (at_start && padding != nullptr) *padding = std::min(digits, kHxMaxRangePadding);
  if (digits == 0) {
    value = 0;
    return kReadFail;
  }
  int64_t v = negative ? -magnitude : magnitude;
  value = static_cast<int>(std::max<int64_t>(INT_MIN, std::min<int64_t>(INT_MAX, v)));
  return kReadOk;
}

void skip_blanks(HxString const& text, int& pos) {
  while (pos < text.length() && is_blank(text.get(pos))) ++pos;
}

// A new string holding the decimal text of v (the hot path of splitting a
// large range into one string per frame).
HxString* decimal(int v) {
  char buf[16];
  char* end = buf + sizeof buf;
  char* p = end;
  uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) *--p = '-';
  return new HxString(p, static_cast<int>(end - p));
}

int64_t distance(int a, int b) {
  int64_t d = static_cast<int64_t>(b) - static_cast<int64_t>(a);
  return d < 0 ? -d : d;
}

}  // namespace

HxRange::HxRange(HxString const& text) { add(text); }

void HxRange::parse(HxString const& text) {
  clear();
  add(text);
}

void HxRange::clear() {
  values_.clear();
  values_.shrink_to_fit();
}

void HxRange::add(int value) { values_.push_back(value); }

namespace {

// One item of range text: a single number, or a run from a to b with the
// letter "x" (every step-th) or "X" (all but every step-th), or none.
struct Item {
  int a = 0;
  int b = 0;
  bool single = true;
  char letter = 0;
  int64_t step = 1;

  int64_t span() const { return distance(a, b); }
  int64_t dir() const { return a <= b ? 1 : -1; }
  // How many members the item adds.
  int64_t count() const {
    if (single) return 1;
    if (letter != 'x' && letter != 'X') return span() + 1;
    int64_t on_grid = span() / step + 1;
    if (letter == 'x') return on_grid;
    return step > 1 ? span() + 1 - on_grid : 0;
  }
  // Calls f(member) for each member in written order.
  template <class F>
  void each(F&& f) const {
    if (single) return f(a);
    int64_t const d = dir();
    if (letter == 'x') {
      for (int64_t i = 0; i <= span(); i += step) f(static_cast<int>(a + d * i));
    } else if (letter != 'X') {
      for (int64_t i = 0; i <= span(); ++i) f(static_cast<int>(a + d * i));
    } else if (step > 1) {
      // A complement with step 1 is empty: no walk over the span.
      for (int64_t i = 0; i <= span(); ++i)
        if (i % step != 0) f(static_cast<int>(a + d * i));
    }
  }
};

// Reads the items of a range text in order, calling take(item) for each
// complete one until it returns false. The first number sets *padding.
template <class F>
void read_items(HxString const& text, int* padding, F&& take) {
  int pos = 0;
  for (;;) {
    Item item;
    if (read_number(text, pos, item.a, padding) != kReadOk) return;
    skip_blanks(text, pos);
    if (pos < text.length() && text.get(pos) == '-') {
      ++pos;
      item.single = false;
      if (read_number(text, pos, item.b, nullptr) != kReadOk) return;
      skip_blanks(text, pos);
      char letter = pos < text.length() ? text.get(pos) : 0;
      if (letter == 'x' || letter == 'X') {
        ++pos;
        int step_read = 0;
        if (read_number(text, pos, step_read, nullptr) != kReadOk) return;
        item.letter = letter;
        item.step = step_read < 0 ? -static_cast<int64_t>(step_read) : step_read;
        if (item.step == 0) item.step = 1;
      }
    }
    if (!take(item)) return;
    skip_blanks(text, pos);
    if (pos >= text.length() || text.get(pos) != ',') return;
    ++pos;
  }
}

}  // namespace

void HxRange::add(HxString const& text) {
  read_items(text, &padding_, [this](Item const& item) {
    // An item that would pass the bound adds nothing and ends the reading.
    if (length() + item.count() > kHxMaxRangeMembers) return false;
    item.each([this](int v) { values_.push_back(v); });
    return true;
  });
}

long long HxRange::count(HxString const& text, int* padding, bool* past_bound) {
  long long total = 0;
  int pad = 0;
  read_items(text, &pad, [&total, past_bound](Item const& item) {
    if (total + item.count() > kHxMaxRangeMembers) {
      if (past_bound != nullptr) *past_bound = true;
      return false;
    }
    total += item.count();
    return true;
  });
  if (padding != nullptr) *padding = pad;
  return total;
}

bool HxRange::has(int value) const { return std::find(values_.begin(), values_.end(), value) != values_.end(); }

bool HxRange::has(HxString const& text) const {
  HxRange wanted(text);
  if (wanted.length() == 0) return true;
  std::vector<int> sorted(values_);
  std::sort(sorted.begin(), sorted.end());
  for (int v : wanted.values_)
    if (!std::binary_search(sorted.begin(), sorted.end(), v)) return false;
  return true;
}

int HxRange::get(int index) const {
  if (index < 0 || index >= length()) return 0;
  return values_[static_cast<size_t>(index)];
}

void HxRange::sort() {
  if (values_.size() > 1) std::sort(values_.begin(), values_.end());
}

void HxRange::reverse() { std::reverse(values_.begin(), values_.end()); }

void HxRange::binary() {
  int n = length();
  if (n < 4) return;
  std::vector<int> out;
  out.reserve(values_.size());
  out.push_back(values_.front());
  out.push_back(values_.back());
  // Breadth-first queue of index intervals; intervals too short to have a
  // midpoint are never queued since they output nothing.
  std::vector<std::pair<int, int>> queue;
  queue.reserve(values_.size());
  queue.emplace_back(0, n - 1);
  for (size_t head = 0; head < queue.size(); ++head) {
    int lo = queue[head].first;
    int hi = queue[head].second;
    int m = lo + (hi - lo) / 2;
    out.push_back(values_[static_cast<size_t>(m)]);
    if (m - lo >= 2) queue.emplace_back(lo, m);
    if (hi - m >= 2) queue.emplace_back(m, hi);
  }
  values_.swap(out);
}

void HxRange::normalize_() {
  sort();
  values_.erase(std::unique(values_.begin(), values_.end()), values_.end());
}

std::vector<int> HxRange::runs_() const {
  size_t n = values_.size();
  std::vector<int> run_end(n, -1);
  if (n < 3) return run_end;
  // ends[i]: member i ends the run being built.
  std::vector<char> ends(n, 0);
  int current_start = -1;
  for (size_t i = 0; i + 2 < n; ++i) {
    int64_t d1 = static_cast<int64_t>(values_[i + 1]) - values_[i];
    int64_t d2 = static_cast<int64_t>(values_[i + 2]) - values_[i + 1];
    if (d1 != d2 || ends[i]) continue;
    if (ends[i + 1]) {
      // The run that ended at i + 1 continues with the same step.
      ends[i + 1] = 0;
    } else {
      current_start = static_cast<int>(i);
    }
    ends[i + 2] = 1;
    run_end[static_cast<size_t>(current_start)] = static_cast<int>(i + 2);
  }
  return run_end;
}

HxString HxRange::value() {
  normalize_();
  HxString out("");
  size_t n = values_.size();
  if (n == 0) return out;
  if (n < 3) {
    out += values_[0];
    if (n == 2) {
      out += ",";
      out += values_[1];
    }
    return out;
  }
  std::vector<int> run_end = runs_();
  for (size_t i = 0; i < n;) {
    if (i > 0) out += ",";
    int last = run_end[i];
    if (last < 0) {
      out += values_[i];
      ++i;
      continue;
    }
    long long step = static_cast<long long>(values_[i + 1]) - values_[i];
    out.integervalue(values_[i], padding_);
    out += "-";
    out += values_[static_cast<size_t>(last)];
    if (step > 1) {
      out += "x";
      out += step;
    }
    i = static_cast<size_t>(last) + 1;
  }
  return out;
}

namespace {

// 'p-q', with "x" and the step when the step is above 1; "p" for one member.
void append_piece(HxStringList& out, int first, int last, long long step) {
  HxString* piece = new HxString(first);
  if (last != first) {
    *piece += "-";
    *piece += last;
    if (step > 1) {
      *piece += "x";
      *piece += step;
    }
  }
  out.append(piece);
}

}  // namespace

void HxRange::chunk(int size, HxStringList& out) {
  if (size < 1 || values_.empty()) return;
  normalize_();
  size_t n = values_.size();
  if (n == 1) {
    out.append(new HxString(values_[0]));
    return;
  }
  if (n == 2) {
    if (size == 1) {
      out.append(new HxString(values_[0]));
      out.append(new HxString(values_[1]));
    } else {
      append_piece(out, values_[0], values_[1], static_cast<long long>(values_[1]) - values_[0]);
    }
    return;
  }
  std::vector<int> run_end = runs_();
  for (size_t i = 0; i < n;) {
    int last = run_end[i];
    if (last < 0) {
      out.append(decimal(values_[i]));
      ++i;
      continue;
    }
    long long step = static_cast<long long>(values_[i + 1]) - values_[i];
    size_t end = static_cast<size_t>(last);
    for (size_t p = i; p <= end; p += static_cast<size_t>(size)) {
      size_t q = std::min(end, p + static_cast<size_t>(size) - 1);
      append_piece(out, values_[p], values_[q], step);
    }
    i = end + 1;
  }
}

void HxRange::partition(int n, HxStringList& out) {
  if (n < 1) return;
  int count = length();
  int size = count / n + (count % n != 0 ? 1 : 0);
  chunk(size, out);
}

bool HxRange::isrange(HxString const& text) {
  int n = text.length();
  if (n == 0) return false;
  char first = text.get(0);
  if (first == 'x' || first == 'X' || first == ',') return false;
  bool something = false;
  for (int i = 0; i < n; ++i) {
    char c = text.get(i);
    if (is_blank(c)) continue;
    if (!is_digit(c) && c != ',' && c != '-' && c != 'x' && c != 'X') return false;
    something = true;
  }
  return something;
}

void HxRange::patternsplit(HxString const& text, int& start, int& end, int& step) {
  start = end = step = 1;
  int pos = 0;
  if (read_number(text, pos, start, nullptr) != kReadOk) return;
  end = start;
  skip_blanks(text, pos);
  if (pos >= text.length() || text.get(pos) != '-') return;
  ++pos;
  if (read_number(text, pos, end, nullptr) != kReadOk) return;
  skip_blanks(text, pos);
  char letter = pos < text.length() ? text.get(pos) : 0;
  if (letter != 'x' && letter != 'X') return;
  ++pos;
  read_number(text, pos, step, nullptr);
}

void HxRange::reorder_(int mode) {
  switch (mode) {
    case 1:
      sort();
      binary();
      break;
    case 2:
      sort();
      break;
    case 3:
      sort();
      reverse();
      break;
    case 4:
      binary();
      break;
    case 5:
      reverse();
      break;
    default:
      break;
  }
}

bool HxRange::patternsplit(int mode, HxString const& text, HxStringList& out, long long max_names,
                           bool* past_bound) {
  bool ignored = false;
  bool& past = past_bound != nullptr ? *past_bound : ignored;
  // A plain name (no comma, bracket or blank, not a range) is its own one
  // name: the common section header, taken without splitting.
  if (plain_name(text)) {
    if (max_names >= 0 && max_names < 1) return false;
    out.append(HxString::_new(text));
    return true;
  }
  if (isrange(text)) {
    // Counted from the text first: a few bytes can name millions of members.
    int padding = 0;
    long long members = count(text, &padding, &past);
    if (max_names >= 0 && members > max_names) return false;
    if (members * (padding + kHxDecimalNameBytes) > kHxMaxPatternBytes) {
      past = true;
      return true;
    }
    HxRange r(text);
    r.reorder_(mode);
    for (int v : r.values_) out.append(decimal(v));
    return true;
  }
  HxStringList items;
  HxExpression::splitcomma(text, items);
  // Each item is split once; the names they expand to are counted before
  // any is built.
  struct Pattern {
    HxStringList tokens;
    int open = -1;
    long long members = 1;
    int padding = 0;
  };
  std::vector<Pattern> patterns(static_cast<size_t>(items.length()));
  long long names = 0;
  for (int i = 0; i < items.length(); ++i) {
    Pattern& p = patterns[static_cast<size_t>(i)];
    HxExpression::rangetokenize(*items.get(i), p.tokens);
    for (int t = 0; t < p.tokens.length(); ++t) {
      if (*p.tokens.get(t) == HxString("[")) {
        p.open = t;
        break;
      }
    }
    if (p.open < 0 || p.open == p.tokens.length() - 1) {
      p.open = -1;
    } else {
      p.members = count(*p.tokens.get(p.open + 1), &p.padding, &past);
    }
    names += p.members;
  }
  if (max_names >= 0 && names > max_names) return false;
  long long bytes = 0;
  for (int i = 0; i < items.length(); ++i) {
    HxString const& item = *items.get(i);
    Pattern const& p = patterns[static_cast<size_t>(i)];
    if (p.open < 0) {
      out.append(new HxString(item));
      continue;
    }
    if (p.members == 0) continue;
    // Every expanded name holds the item's other tokens and one member.
    long long each = item.length() + p.padding + kHxDecimalNameBytes;
    if (bytes + each * p.members > kHxMaxPatternBytes) {
      past = true;
      return true;
    }
    bytes += each * p.members;
    HxRange group(*p.tokens.get(p.open + 1));
    group.reorder_(mode);
    for (int v : group.values_) {
      HxString* name = new HxString("");
      for (int t = 0; t < p.tokens.length(); ++t) {
        if (t == p.open || t == p.open + 2) continue;
        if (t == p.open + 1)
          name->integervalue(v, group.padding());
        else
          *name += *p.tokens.get(t);
      }
      out.append(name);
    }
  }
  return true;
}
