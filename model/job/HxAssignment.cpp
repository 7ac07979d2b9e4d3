#include "model/job/HxAssignment.h"

namespace {

// A duration as HxTime::counter writes it, for any 64-bit count of seconds:
// under 120 in seconds, over 7199 in hours, else in minutes, with one
// decimal (truncated) for the last two.
HxString counter(long long v) {
  HxString out;
  auto put = [&](long long whole, long long tenth, char const* unit) {
    out += whole;
    out += '.';
    out += tenth;
    out += unit;
  };
  if (v < 120) {
    out += v;
    out += " s";
  } else if (v > 7199) {
    put(v / 3600, (v % 3600) / 360, " h");
  } else {
    put(v / 60, (v % 60) / 6, " m");
  }
  return out;
}

}  // namespace

HxString HxJobStats::data() const {
  long long const duration = static_cast<long long>(end_.value()) - start_.value();
  HxString s(jobid_);
  s += '.';
  s += subid_;
  s += "\tstart: [";
  s += start_.ascii();
  s += "] ";
  s += start_.value();
  s += "\tend: [";
  s += end_.ascii();
  s += "] ";
  s += end_.value();
  s += "\ttime: [";
  s += counter(duration);
  s += "] ";
  s += duration;
  s += "\thost: ";
  s += host_;
  s += "\tthread: ";
  s += maxthreads_;
  s += "\tmem: ";
  s += maxmemory_;
  s += "\tswap: ";
  s += maxswap_;
  s += '\n';
  return s;
}

void HxJobStats::tally(HxJobStats const& other) {
  if (other.maxthreads_ > maxthreads_) maxthreads_ = other.maxthreads_;
  if (other.maxswap_ > maxswap_) maxswap_ = other.maxswap_;
  if (other.maxmemory_ > maxmemory_) maxmemory_ = other.maxmemory_;
}

void HxAssignment::copy(HxAssignment const& other) {
  if (&other == this) return;
  job_.copy(other.job_);
  subjob_ = other.subjob_;
  procid_ = other.procid_;
  threadid_ = other.threadid_;
  jobstats_ = other.jobstats_;
  outpos_ = other.outpos_;
  errpos_ = other.errpos_;
  outstartpos_ = other.outstartpos_;
  errstartpos_ = other.errstartpos_;
  develop_ = other.develop_;
  serveraddress_ = other.serveraddress_;
  pathmap_ = other.pathmap_;
  automounted_ = other.automounted_;
  order_ = other.order_;
}
