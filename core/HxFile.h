#pragma once

#include <sys/stat.h>

#include <cstdio>

#include "core/HxBase.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// A file as a record that travels in messages (its last path component, the
// path it was read from and its contents), and the library's static file
// operations.
class HxFile : public HxRecord<HxFile> {
 public:
  HxFile() = default;
  // Builds the record from the file at path (see read()).
  explicit HxFile(HxString const& path) { read(path); }

  int type() const override { return 105; }
  HxString typeXML() const override { return "file"; }
  // Written in the order name, source, data; read back by field number.
  static auto wire_fields() {
    return std::make_tuple(hx_field(0, "name", &HxFile::name_), hx_field(2, "source", &HxFile::source_),
                           hx_field(1, "data", &HxFile::data_));
  }

  // Takes the whole contents of a regular file that can be opened; otherwise
  // leaves the record as it is.
  void read(HxString const& path);
  // Saves the contents at path; false when the file was not written whole.
  bool write(HxString const& path) { return save(path, data_); }

  HxString const& name() const { return name_; }
  HxString const& source() const { return source_; }
  HxString const& data() const { return data_; }

  // ---- static operations ----
  // Size in bytes (links followed); 0 when the path cannot be examined.
  static long long size(HxString const& path);
  // Modification time in Unix seconds; 0 when the path cannot be examined.
  static int modified(HxString const& path);
  static bool remove(HxString const& path);
  // A regular file is there (a directory is not a file here).
  static bool exists(HxString const& path);
  static bool hidden(HxString const&) { return false; }
  static bool clearhidden(HxString const&) { return false; }
  // Sets the access and modification times of whatever the path names
  // (a file, a directory, a pipe) to now, creating a missing file empty.
  // False when the file cannot be created or its times cannot be set.
  static bool touch(HxString const& path);
  // The file can be opened for appending (it is created when missing).
  static bool writable(HxString const& path);
  static void append(HxString const& path, HxString const& text);
  // Replaces the file's contents; true only when every byte was written and
  // the file closed without error.
  static bool save(HxString const& path, HxString const& text);
  // The whole contents of a regular file; empty when it cannot be read.
  static HxString load(HxString const& path);
  // Appends to out the bytes from pos on (pos < 0: |pos| bytes before the
  // end), at most count of them (count < 0: no limit). Returns the position
  // after the last byte taken, -1 when the file cannot be read.
  static long long loadpos(HxString const& path, long long pos, HxString& out);
  static long long loadpos(HxString const& path, long long pos, long long count, HxString& out);
  // The bytes after the last '/' (the whole path when it has none).
  static HxString filename(HxString const& path);
  // The bytes before the last '/' (empty when the only '/' is the first byte).
  static HxString dirbase(HxString const& path);
  // "tarv<pid>u<counter>.tmp", a new name at every call.
  static HxString uniquefile();
  static bool chown(HxString const& path, unsigned int uid, unsigned int gid);
  static bool chmod(HxString const& path, unsigned short mode);

  // ---- for the library's other readers and writers ----
  // Reads a regular file whole into out. The open never waits (a pipe or a
  // device is refused, not read) and is closed on exec. False when the file
  // cannot be read, a read fails or it holds more than max_bytes.
  static bool _read(HxString const& path, HxString& out, long long max_bytes);
  // Writes n bytes to a descriptor, resuming after a signal; false on any
  // error.
  static bool _write(int fd, char const* bytes, long long n);
  // The positioned read of loadpos from byte start of an open descriptor;
  // -1, with out unchanged, when seeking or a read fails.
  static long long _loadpos(int fd, long long start, long long count, HxString& out);
  // Opens a file for writing (created when missing; flags add O_TRUNC or
  // O_APPEND) without waiting: a pipe that nobody reads fails at once. The
  // descriptor is closed on exec; -1 on failure.
  static int _openWrite(HxString const& path, int flags);
  // The same as a stream, emptied or for appending; null on failure.
  static std::FILE* _fopenWrite(HxString const& path, bool append);

 private:
  HxString name_;
  HxString source_;
  HxString data_;
};

HX_NAMED_LIST(HxFileList, HxFile, 119, "file_list");

// Writes a file at a path so that a write failing part way (a full disk)
// leaves the old file as it was, wherever that changes nothing else a caller
// sees. The bytes go to a new file in the folder of the file the path names,
// under a short name of its own (".hx" and six letters or digits drawn from
// the world's random numbers, so any path that fits the limits can be
// written), created exclusively and closed on exec: never through a file or
// link already there. commit() syncs it, renames it over the file and syncs
// the folder; a replacement not committed, or whose commit failed, is
// removed.
//
// kAsWrittenInPlace: links are followed to the file they name, dangling
// ones too (the file is made where the last link points). The file is
// replaced only when it is absent, or a regular file with one link, owned
// by the effective user, writable by them, without a set-uid or set-gid
// bit or a mount on it. The new file takes its group, permission bits and
// extended attributes (an access control list among them) as a copy that
// keeps them does, and loses those the folder gives new files that the old
// one lacks; where it still carries other attributes than the old one (one
// the user may not set), it is not used and the file is written in place.
// (A file made where there was none: 0666 less the creation mask, or what
// the folder's default access control list gives.) What still tells a
// replaced file from one written in place: its inode number and change and
// birth times, and that descriptors opened on the old file keep the old
// one.
// Where no new file can be made for want of room (space, inodes or quota),
// nothing is opened (ok() is false) and the old file stays whole. Otherwise
// (anything else there, a folder that takes no new file, a group the user
// cannot give, a link loop, a link the system would not follow, a path
// through the process's own descriptors such as /dev/stdout or
// /proc/self/fd/N, a file of the process file system) the path is opened
// for writing as before, created when missing: a file the user may not
// write is refused. A regular file is not cut when opened: each write
// first reserves room for its bytes and writes those past the file's end
// before those over its old bytes, so that a write that finds no room fails
// with the old bytes whole (a caller that gives its bytes in one write, as
// every caller does, keeps the old file whole); commit() cuts the file to
// the bytes written and syncs it. A pipe or a device takes the bytes as a
// stream. A mount the checks missed makes the rename fail: the bytes are
// then copied into the file in place the same way.
//
// kPrivate replaces the path itself, whatever holds it (a link included),
// with a new file of mode 0600; it is never written in place.
class HxFileReplacement {
 public:
  enum Kind { kPrivate, kAsWrittenInPlace };
  HxFileReplacement(HxString const& path, Kind kind);
  ~HxFileReplacement();
  HxFileReplacement(HxFileReplacement const&) = delete;
  HxFileReplacement& operator=(HxFileReplacement const&) = delete;

  // The new file (or the file in place) could be opened.
  bool ok() const { return fd_ >= 0; }
  // False once any write failed; nothing is written after that.
  bool write(char const* bytes, long long n);
  // Closes the file and puts it in place; true only when every byte was
  // written and synced, the file closed without error and (when replaced)
  // renamed over the file the path names or copied into it.
  bool commit();

 private:
  int create_(mode_t mode, struct stat const* old);
  bool copy_in_place_();

  int folder_ = -1;   // the folder of the file replaced (O_PATH)
  HxString name_;     // the file's name in it
  HxString temporary_;  // the new file's name in it; empty when in place
  int fd_ = -1;
  bool failed_ = false;
  long long written_ = 0;  // the bytes written
  // In place: the regular file's length (-1: a pipe or a device) and the
  // offset its descriptor stands at (-1: not known).
  long long length_ = -1;
  long long position_ = 0;
};

// A directory: its path and the names its listing held when it was built.
class HxDir : public HxBase {
 public:
  explicit HxDir(HxString const& path);

  int type() const override { return 78; }
  int length() const { return entries_.length(); }
  // The i-th name of the listing ("." and ".." included), or null.
  HxString* get(int i) const { return entries_.get(i); }
  HxString const& dir() const { return dir_; }

  // Removes the directory and everything below it; a symbolic link is
  // removed itself, never followed. True when the directory is gone
  // afterwards (also when it never existed).
  bool remove();
  // Creates the directory with mode 0777 (whatever the creation mask); true
  // when it was created. Callers all pass 0777.
  bool make(int mode);

  // Creates every missing directory along path with mode 0777; true when the
  // whole path is a directory afterwards.
  static bool make(HxString const& path, int mode);
  // The bytes below a directory: files, and directories with their own size;
  // symbolic links are neither followed nor counted.
  static long long size(HxString const& path);
  static bool isdir(HxString const& path);
  static bool isfile(HxString const& path);
  // The path itself is a symbolic link.
  static bool islink(HxString const& path);
  // The path exists with all nine permission bits set.
  static bool fullaccess(HxString const& path);
  static void chdir(HxString const&) {}

 private:
  HxString dir_;
  HxStringList entries_;
};
