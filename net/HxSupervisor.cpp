// Finding the supervisor: the members of HxClient that choose where a
// request goes (explicit host, configured hosts, cache file, broadcast
// discovery, one redirect), with the retries, domain joining and the
// operations that meet or list every supervisor.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/HxDebug.h"
#include "core/HxFile.h"
#include "core/HxInterrupt.h"
#include "core/HxWorld.h"
#include "net/HxCacheFile.h"
#include "net/HxClient.h"

namespace {

void log_line(HxString const& text) {
  HxDebug& d = *hx_debug_obj();
  d.lock();
  d.mark() << text << '\n';
  d.unlock();
}

HxString text_of(long long n) { return HxString(std::to_string(n).c_str()); }

// The reply's content when it is an object of class T that matches the
// declared content type; null otherwise. A peer chooses both numbers, so
// the type number alone proves nothing about the object.
template <class T>
T* content_as(HxMessage& msg) {
  HxPack* content = msg.content();
  if (content == nullptr || content->type() != msg.contenttype()) return nullptr;
  return dynamic_cast<T*>(content);
}

// A cache file older than this many seconds names a supervisor that may
// have moved.
constexpr int64_t kCacheMaxAge = 599;
// Redirect replies.
constexpr int kRedirect = 7;
// Requests of this part of the protocol.
constexpr int kDiscover = 401;
constexpr int kJoinDomain = 402;
// meetSupervisor's time-out per host, in milliseconds.
constexpr int kMeetTimeout = 4;
// findSupervisor: rounds, the wait of each, and its socket's time-out.
constexpr int kFindRounds = 100;
constexpr int kFindWait = 50;

}  // namespace

HxString HxClient::cachePath() { return hx_world().tempDir() + "/supervisor_" + currentuser() + ".tmp"; }

HxTime HxClient::currenttime() {
  HxTime t;
  t.setToNow();
  return t;
}

int HxClient::randomStart_(int n) const {
  return static_cast<int>(static_cast<int64_t>(n) * hx_world().random() / (int64_t{1} << 31)) % n;
}

bool HxClient::deliver_(Delivery how, HxString const& host, int port, HxMessage& request, HxMessage& reply) {
  switch (how) {
    case Delivery::kConverse:
      return converse(host, port, request, reply);
    case Delivery::kTelegram:
      return telegram(host, port, request);
    case Delivery::kTransmit:
      return transmit(host, port, request);
  }
  return false;
}

bool HxClient::settled_(Delivery how, bool delivered, int port, HxMessage& request, HxMessage& reply, bool& res) {
  if (how == Delivery::kConverse && delivered && reply.tag() == kRedirect) {
    auto* target = content_as<HxHostname>(reply);
    if (target == nullptr) {
      res = false;
      return true;
    }
    // The next conversation decodes into this reply and destroys the
    // record the name lives in: the name is copied first.
    HxString const host = target->host();
    res = converse(host, port, request, reply);
    return true;
  }
  res = delivered;
  return delivered;
}

HxString HxClient::cachedSupervisor_() const {
  HxString text;
  int64_t mtime = 0;
  if (!hx_cache_load(cachePath(), text, mtime)) return HxString();
  // Only a cache written after the configuration was last changed counts.
  if (static_cast<int64_t>(HxFile::modified(hx_world().clientConfigPath())) >= mtime) return HxString();
  // The age is measured on the local clock, the one the file's time came
  // from (a corrected clock behind the local one would keep it fresh).
  if (hx_world().now() - mtime > kCacheMaxAge) return HxString();
  if (text.length() == 0 || !HxAddress::isaddress(text)) return HxString();
  return text;
}

bool HxClient::locate_(Delivery how, int port, bool warn, HxMessage& request, HxMessage& reply) {
  HxString const& configured = config_.hx_domain();
  request.tarvdomain(domain_.length() > 0 ? domain_ : configured);
  if (supervisor_.length() > 0) return deliver_(how, supervisor_, port, request, reply);

  HxHostnameList& hosts = config_.supervisor_hosts();
  int const n = hosts.length();
  if (warn && n == 0 && configured.length() == 0 && domain_.length() == 0) {
    std::fputs(
        "WARNING: hx_supervisor/hx_domain undefined in hx.conf or HX_SUPERVISOR/HX_DOMAIN undefined in  environment.\n",
        stderr);
    return false;
  }
  bool res = false;
  if (n > 0) {
    int const start = randomStart_(n);
    for (int i = 0; i < n; ++i) {
      HxHostname const& entry = *hosts.get((start + i) % n);
      HxString const host = entry.host();
      int const to = entry.port() != 0 ? entry.port() : port;
      bool const delivered = deliver_(how, host, to, request, reply);
      if (settled_(how, delivered, port, request, reply, res)) return res;
    }
  }

  HxString const cached = cachedSupervisor_();
  if (cached.length() > 0) {
    bool const delivered = deliver_(how, cached, port, request, reply);
    if (settled_(how, delivered, port, request, reply, res)) return res;
  }

  if (configured.length() == 0 && domain_.length() == 0) return false;
  HxMessage discovery(kDiscover);
  discovery.content(new HxDomain(configured, config_.hx_region()));
  discovery.tarvdomain(domain_.length() > 0 ? domain_ : configured);
  discovery.tarvregion(config_.hx_region());
  HxMessage answer;
  if (!poll(port, discovery, answer)) return false;
  HxString const found = answer.address().stringvalue();
  bool known = false;
  for (int i = 0; i < hosts.length() && !known; ++i) known = hosts.get(i)->host() == found;
  if (!known) hosts.append(new HxHostname(found));
  hx_cache_save(cachePath(), found);

  bool const delivered = deliver_(how, found, port, request, reply);
  settled_(how, delivered, port, request, reply, res);
  return res;
}

bool HxClient::converseSupervisor(HxMessage& request, HxMessage& reply) {
  return locate_(Delivery::kConverse, config_.supervisor_port(), true, request, reply);
}

bool HxClient::converseSupervisor(HxString const& host, HxMessage& request, HxMessage& reply) {
  if (converse(host, config_.supervisor_port(), request, reply)) return true;
  return converseSupervisor(request, reply);
}

bool HxClient::converseSubSupervisor(HxMessage& request, HxMessage& reply) {
  return locate_(Delivery::kConverse, config_.supervisor_sub_port(), true, request, reply);
}

bool HxClient::converseSubSupervisor(HxString const& host, HxMessage& request, HxMessage& reply) {
  if (converse(host, config_.supervisor_sub_port(), request, reply)) return true;
  return converseSubSupervisor(request, reply);
}

bool HxClient::telegramSupervisor(HxMessage& request) {
  HxMessage unused;
  return locate_(Delivery::kTelegram, config_.supervisor_port(), false, request, unused);
}

bool HxClient::telegramSubSupervisor(HxMessage& request) {
  HxMessage unused;
  return locate_(Delivery::kTelegram, config_.supervisor_sub_port(), false, request, unused);
}

bool HxClient::transmitSupervisor(HxMessage& request) {
  HxMessage unused;
  return locate_(Delivery::kTransmit, config_.supervisor_port(), false, request, unused);
}

bool HxClient::converseSubSupervisorWithRetries(HxMessage& request, HxMessage& reply, int retries) {
  if (retries < 0) return false;
  long long const attempts = static_cast<long long>(retries) + 1;
  for (long long attempt = 1; attempt <= attempts; ++attempt) {
    int const r = hx_world().random();
    if (converseSubSupervisor(request, reply)) return true;
    if (hx_interrupted()) return false;  // a signal ended the request
    log_line("WARNING: converseSubSupervisor() attempt[" + text_of(attempt) + "/" + text_of(attempts) +
             "] failed (supervisor down?).");
    if (attempt == attempts || rejected_) continue;
    int const seconds = r % 6 + 5;
    log_line("WARNING:: retrying in [" + HxString(seconds) + "] seconds.");
    hx_world().sleepMillis(int64_t{1000} * seconds);
  }
  return false;
}

bool HxClient::joinDomain(HxDomain& domain) {
  if (config_.hx_domain().length() > 0 || domain_.length() > 0) return false;
  auto ask = [&](HxString const& host, int port) {
    HxMessage request(kJoinDomain), reply;
    if (!converse(host, port, request, reply)) return false;
    HxDomain* answer = content_as<HxDomain>(reply);
    if (answer == nullptr) return false;
    domain.copy(*answer);
    domain_ = answer->value();
    return true;
  };
  if (supervisor_.length() > 0) return ask(supervisor_, config_.supervisor_port());
  HxHostnameList const& hosts = config_.supervisor_hosts();
  int const n = hosts.length();
  if (n == 0) return false;
  int const start = randomStart_(n);
  for (int i = 0; i < n; ++i) {
    HxHostname const& entry = *hosts.get((start + i) % n);
    HxString const host = entry.host();
    if (ask(host, entry.port() != 0 ? entry.port() : config_.supervisor_port())) return true;
  }
  return false;
}

bool HxClient::meetSupervisor(HxMessage& request, HxMessage& reply) {
  HxHostnameList const& hosts = config_.supervisor_hosts();
  if (hosts.length() == 0) return false;
  int const kept = conversetimeout_;
  conversetimeout_ = kMeetTimeout;
  for (int i = 0; i < hosts.length(); ++i) {
    HxHostname const& entry = *hosts.get(i);
    HxString const host = entry.host();
    converse(host, entry.port() != 0 ? entry.port() : config_.supervisor_port(), request, reply);
  }
  conversetimeout_ = kept;
  return true;
}

bool HxClient::findSupervisor(HxHostnameList& found, unsigned char detect) {
  HxHostnameList const& hosts = config_.supervisor_hosts();
  if (detect == 0 && hosts.length() > 0) {
    found.copy(hosts);
    log_line("INFO: findSupervisor() skipping detection... returning supervisor_host defined in hx.conf");
    return true;
  }
  HxMessage request(kDiscover);
  request.content(new HxDomain(domain_.length() > 0 ? domain_ : config_.hx_domain(), config_.hx_region()));
  HxConnection c(HxString(), config_.supervisor_port(), 2, 30000);
  c.timeout(kFindWait);
  stamp_(request);
  auto send = [&](HxString const& host) {
    c.host(host);
    if (c.send(request.packContents(), request.packSize()) != 0) return true;
    log_line("ERROR: " + c.error().value() + ".");
    error_ = c.error();
    return false;
  };
  for (int round = 0; round < kFindRounds; ++round) {
    if (!send(HxString())) return false;
    for (int i = 0; i < hosts.length(); ++i)
      if (!send(hosts.get(i)->host())) return false;
    int length = 0;
    std::unique_ptr<char[]> data(c.receive(length));
    if (data == nullptr) continue;
    HxMessage answer;
    if (!answer.unpackReceived(data.get(), length)) continue;
    HxString const from = c.address().stringvalue();
    bool known = false;
    for (int i = 0; i < found.length() && !known; ++i) known = found.get(i)->host() == from;
    HxDomain* domain = content_as<HxDomain>(answer);
    if (!known && domain != nullptr) found.append(new HxHostname(from, 0, domain->id()));
  }
  return true;
}
