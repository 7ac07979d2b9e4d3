#include "core/HxRegEx.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace {

// Pairs of offsets in the output vector: the whole match and 33 groups for
// the collecting form, the whole match alone for the yes/no test.
constexpr uint32_t kCollectPairs = 34;
constexpr uint32_t kPlainPairs = 1;

}  // namespace

HxRegEx::HxRegEx(HxString const& pattern) : pattern_(pattern) {}

void HxRegEx::caseless(unsigned char on) {
  if (on != 0)
    options_ |= kCaseless;
  else
    options_ &= ~kCaseless;
}

bool HxRegEx::match(HxString const& text) { return run_(text, nullptr); }

bool HxRegEx::match(HxString const& text, HxStringList& groups) { return run_(text, &groups); }

bool HxRegEx::run_(HxString const& text, HxStringList* groups) {
  error_ = "";
  uint32_t flags = (options_ & kCaseless) != 0 ? PCRE2_CASELESS : 0;
  int code = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.value()), PCRE2_ZERO_TERMINATED, flags, &code,
                                 &offset, nullptr);
  if (re == nullptr) {
    PCRE2_UCHAR message[256];
    int n = pcre2_get_error_message(code, message, sizeof message);
    if (n < 0) n = 0;
    error_ = HxString(reinterpret_cast<char const*>(message), n);
    return false;
  }
  pcre2_match_data* md = pcre2_match_data_create(groups != nullptr ? kCollectPairs : kPlainPairs, nullptr);
  if (md == nullptr) {
    pcre2_code_free(re);
    return false;
  }
  int r = pcre2_match(re, reinterpret_cast<PCRE2_SPTR>(text.value()), static_cast<PCRE2_SIZE>(text.length()), 0, 0,
                      md, nullptr);
  if (groups != nullptr && r >= 1) {
    // Every group of the pattern is reported, so that a caller finds group
    // i at position i - 1 also when trailing groups took no part.
    uint32_t count = 0;
    pcre2_pattern_info(re, PCRE2_INFO_CAPTURECOUNT, &count);
    if (count > kCollectPairs - 1) count = kCollectPairs - 1;
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
    for (int i = 1; i <= static_cast<int>(count); ++i) {
      PCRE2_SIZE start = ov[2 * i], end = ov[2 * i + 1];
      if (i >= r || start == PCRE2_UNSET || end == PCRE2_UNSET || end < start)
        groups->append(new HxString(""));
      else
        groups->append(new HxString(text.value() + start, static_cast<int>(end - start)));
    }
  }
  pcre2_match_data_free(md);
  pcre2_code_free(re);
  return r >= 0;
}
