#include "core/HxPath.h"

namespace {

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

HxPath::HxPath(HxString const& text) : path_(text), pathtype_(analyse(text)) {}

HxString HxPath::pathtypestring() const {
  switch (pathtype_) {
    case kUnc: return "unc";
    case kDos: return "dos";
    case kUnix: return "unix";
    case kNfs: return "nfs";
    default: return "unknown";
  }
}

int HxPath::analyse(HxString const& text) {
  int n = text.length();
  if (n == 0) return kUnknown;
  char const* p = text.value();
  if (text.haschar('\\')) {
    if (n < 3) return kDos;
    if (p[0] == '\\' && p[1] == '\\') return kUnc;
    return kDos;
  }
  if (p[0] == '/') return kUnix;
  if (n < 3) return kUnknown;
  if (is_letter(p[0]) && p[1] == ':' && p[2] == '/') return kDos;
  for (int i = 0; i < n; ++i) {
    if (p[i] == ':') return kNfs;
    if (p[i] == '/') return kUnknown;
  }
  return kUnknown;
}

bool HxPath::isFullPath() const {
  char const* p = path_.value();
  switch (pathtype_) {
    case kUnc:
    case kNfs:
      return true;
    case kUnix:
      return p[0] == '/';
    case kDos:
      return path_.length() >= 3 && is_letter(p[0]) && p[1] == ':' && (p[2] == '\\' || p[2] == '/');
    default:
      return false;
  }
}

void HxPath::root(HxString const& base) {
  if (isFullPath()) return;
  HxString full(base);
  if (base.length() == 0 || base.get(base.length() - 1) != '/') full += "/";
  full += path_;
  path_ = full;
  pathtype_ = analyse(path_);
}

HxString HxPath::chomp(HxString const& path, int n) {
  char const* p = path.value();
  int e = path.length() - 1;
  for (int i = 0; i < n && e >= 0; ++i) {
    while (e >= 0 && p[e] == '/') --e;
    while (e >= 0 && p[e] != '/') --e;
    while (e >= 0 && p[e] == '/') --e;
  }
  HxString out;
  if (e >= 0) out.append(p, e + 1);
  out += "/";
  return out;
}

void HxPath::split(HxString const& path, HxStringList& parts) {
  char const* p = path.value();
  int start = 0;
  for (int i = 0; i <= path.length(); ++i) {
    if (i == path.length() || p[i] == '/' || p[i] == '\\') {
      if (i > start) parts.append(new HxString(p + start, i - start));
      start = i + 1;
    }
  }
}

int HxPath::match(HxString const& a, HxString const& b) {
  HxStringList pa, pb;
  split(a, pa);
  split(b, pb);
  if (pa.length() == 0) return 0;
  int count = 0;
  for (int i = 0; i < pa.length(); ++i) {
    if (i >= pb.length()) return 0;
    if (*pa.get(i) == *pb.get(i)) ++count;
  }
  return count;
}

HxString HxPath::strip(HxString const& prefix, int kind) const {
  int n = match(prefix, path_);
  if (n == 0) return path_;
  char const* sep = nullptr;
  switch (kind) {
    case kUnknown:
    case kUnix:
    case kNfs:
      sep = "/";
      break;
    case kUnc:
    case kDos:
      sep = "\\";
      break;
    default:
      break;
  }
  HxStringList parts;
  split(path_, parts);
  HxString out("");
  for (int i = n; i < parts.length(); ++i) {
    if (sep != nullptr) out += sep;
    out += *parts.get(i);
  }
  return out;
}

HxString HxPath::normalize(HxString const& path) {
  HxString out(path);
  for (int i = 0; i < out.length(); ++i)
    if (out.get(i) == '\\') out.set(i, '/');
  return out;
}
