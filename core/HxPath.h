#pragma once

#include "core/HxBase.h"
#include "core/HxList.h"
#include "core/HxString.h"

class HxPathMap;

// One path text and its kind: a Windows share, a drive path, a Unix path or a
// host and path pair. Most operations are static helpers that take paths
// apart and put them together.
class HxPath : public HxBase {
 public:
  // Kinds of path text, as analyse() tells them.
  enum Kind { kUnknown = 0, kUnc = 1, kDos = 2, kUnix = 3, kNfs = 4 };

  HxPath() = default;
  explicit HxPath(HxString const& text);

  int type() const override { return 77; }

  HxString const& value() const { return path_; }
  int pathtype() const { return pathtype_; }
  // "unknown", "unc", "dos", "unix" or "nfs".
  HxString pathtypestring() const;

  static int analyse(HxString const& text);
  bool isFullPath() const;
  // Puts base in front of a path that is not a full path.
  void root(HxString const& base);

  // The path without its last n components, ending in '/'.
  static HxString chomp(HxString const& path, int n);
  static HxString chomp(HxString const& path) { return chomp(path, 1); }
  // Appends the non-empty components ('/' and '\' both separate).
  static void split(HxString const& path, HxStringList& parts);
  // How many of a's components equal b's at the same place (0 when b has fewer).
  static int match(HxString const& a, HxString const& b);
  // The path without the components match(prefix, path) counts, joined again
  // with the separator of kind.
  HxString strip(HxString const& prefix, int kind) const;
  // Every backslash turned into '/'.
  static HxString normalize(HxString const& path);

  // The path rewritten through a path map: each source in the map's order is
  // replaced, ignoring case, by its replacement; later sources see what
  // earlier ones produced. A source listed twice acts once. Defined in
  // config/, beside the map, so that core needs nothing above it.
  HxString translate(HxPathMap& map) const;

 private:
  HxString path_;
  int pathtype_ = kUnknown;
};
