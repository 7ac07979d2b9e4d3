#pragma once

#include "config/HxClientConfig.h"
#include "core/HxAddress.h"
#include "core/HxBase.h"
#include "core/HxError.h"
#include "core/HxList.h"
#include "core/HxString.h"
#include "core/HxTime.h"
#include "model/farm/HxDomain.h"
#include "net/HxConnection.h"
#include "net/HxMessage.h"

// The answers of a broadcast poll, owned.
class HxMessageList : public HxBaseList<HxMessage> {};

// The sending side of one exchange: a request message out, at most one reply
// (or, for a broadcast poll, several) back. Every outgoing message is first
// stamped with the sender's user, domain, MAC address, tarv domain and
// region. A conversation opens its own connection and closes it before it
// returns; failures come back as false, with the transport's error in
// error() and a line in the debug log.
//
// Reply tags 0 (ignored or refused) and 5 (the peer's connection limit is
// reached) are failures, returned after a random pause of some seconds;
// every other tag is left to the caller.
class HxClient : public HxBase {
 public:
  // Reads the client configuration.
  HxClient();
  HxClient(HxClient const&) = delete;
  HxClient& operator=(HxClient const&) = delete;
  ~HxClient() override = default;

  int type() const override { return 74; }
  virtual HxString nametag() const { return "HxClient"; }

  // Time-out in milliseconds of a converse connection; a broadcast poll
  // waits a sixth of it per try.
  void conversetimeout(int ms) { conversetimeout_ = ms; }
  int conversetimeout() const { return conversetimeout_; }
  // Whether the last converse or poll was refused at the peer's limit.
  bool rejected() const { return rejected_; }
  HxError const& error() const { return error_; }
  HxString logpath() const { return config_.client_logpath(); }
  HxClientConfig& config() { return config_; }
  HxHostnameList const& supe_list() const { return config_.supervisor_hosts(); }
  // The host that converse or transmit last tried.
  HxString const& lastcontact() const { return lastcontact_; }
  void setSupervisor(HxString const& host) { supervisor_ = host; }
  void setDomain(HxString const& domain) { domain_ = domain; }

  // The login name of the process's real user; empty, with diagnostics in
  // the debug log, when the user database has no entry.
  static HxString currentuser();
  // The configured client_host_domain as the configuration reads now; "."
  // when it is empty.
  static HxString currentdomain();
  static HxMacAddress currentmacaddress();

  // TCP request and reply.
  bool converse(HxString const& host, int port, HxMessage& request, HxMessage& reply);
  // TCP send without a reply (a fixed 30 s time-out).
  bool transmit(HxString const& host, int port, HxMessage& request);
  // One UDP datagram to one host, or to the broadcast address.
  bool telegram(HxString const& host, int port, HxMessage& request);
  bool broadcast(int port, HxMessage& request);
  // UDP broadcast, up to six tries: the first answer, or every answer until
  // one wait passes in silence (tags 0 and 5 are left out of the list).
  bool poll(int port, HxMessage& request, HxMessage& reply);
  bool poll(int port, HxMessage& request, HxMessageList& replies);

  // The same with the configured worker port.
  bool converseWorker(HxString const& host, HxMessage& request, HxMessage& reply);
  bool transmitWorker(HxString const& host, HxMessage& request);
  bool telegramWorker(HxString const& host, HxMessage& request);
  // converseWorker with up to retries + 1 attempts and a pause of 5 to 10 s
  // between them (none after a refusal, which paused already); false at once
  // for a negative count.
  bool converseWorkerWithRetries(HxString const& host, HxMessage& request, HxMessage& reply, int retries);

  // ---- the supervisor ----
  // Deliver a request to the supervisor, found in this order: the explicit
  // supervisor (its answer is final); the configured hosts from a random
  // start (a host's own port, else the variant's); the user's cache file;
  // a broadcast to the domain's supervisors, whose answer is cached. A
  // converse variant follows one redirect (tag 7 naming another host, always
  // on the variant's port); a redirect without a host name ends the search.
  // With nothing configured it warns on standard error. The host forms try
  // the given host first.
  bool converseSupervisor(HxMessage& request, HxMessage& reply);
  bool converseSupervisor(HxString const& host, HxMessage& request, HxMessage& reply);
  bool converseSubSupervisor(HxMessage& request, HxMessage& reply);
  bool converseSubSupervisor(HxString const& host, HxMessage& request, HxMessage& reply);
  // Without a reply: the first host the send reached counts; no warning and
  // no redirects.
  bool telegramSupervisor(HxMessage& request);
  bool telegramSubSupervisor(HxMessage& request);
  bool transmitSupervisor(HxMessage& request);
  // converseSubSupervisor with up to retries + 1 attempts and a pause of 5
  // to 10 s between them (none after a refusal); false at once for a
  // negative count.
  bool converseSubSupervisorWithRetries(HxMessage& request, HxMessage& reply, int retries);
  // Asks the explicit supervisor, else each configured host from a random
  // start, for the domain of this client (only when none is configured);
  // the first domain record answered is copied and becomes the client's.
  bool joinDomain(HxDomain& domain);
  // Sends the request to every configured host with a 4 ms time-out,
  // answers ignored; the caller's time-out is restored.
  bool meetSupervisor(HxMessage& request, HxMessage& reply);
  // The supervisors that answer 100 rounds of a domain request sent by
  // broadcast and to each configured host (or, without detection, the
  // configured hosts). True unless a send failed.
  bool findSupervisor(HxHostnameList& found, unsigned char detect);
  // The current time, corrected by the supervisor clock offset.
  HxTime currenttime();
  // The user's cache file naming the supervisor found last:
  // <temp dir>/supervisor_<user>.tmp
  static HxString cachePath();

 private:
  enum class Delivery { kConverse, kTelegram, kTransmit };
  // The search of the converse, telegram and transmit variants.
  bool locate_(Delivery how, int port, bool warn, HxMessage& request, HxMessage& reply);
  bool deliver_(Delivery how, HxString const& host, int port, HxMessage& request, HxMessage& reply);
  // After a delivery to host: true when it ends the search (res then holds
  // the result): a success, or a redirect (followed once) for converse.
  bool settled_(Delivery how, bool delivered, int port, HxMessage& request, HxMessage& reply, bool& res);
  // The cache file's address when it may be used; empty otherwise.
  HxString cachedSupervisor_() const;
  // A configured host from a random start: the first index to try.
  int randomStart_(int n) const;
  // Sets the sender's identity on an outgoing message and packs it. User,
  // host domain (from this client's configuration) and MAC address are
  // looked up at the first stamp of this client and kept for its later ones
  // (a client lives for one call).
  void stamp_(HxMessage& m);
  bool datagram_(HxString const& host, int port, HxMessage& request);
  // Reads the first answer of a broadcast poll; null after a failure, which
  // is logged and kept.
  char* pollFirst_(HxConnection& c, HxMessage& request, int& length);

  HxString supervisor_;
  HxString domain_;
  HxClientConfig config_;
  int conversetimeout_ = 30000;
  bool rejected_ = false;
  HxString lastcontact_;
  HxError error_;
  bool identified_ = false;
  HxString sender_user_;
  HxString sender_domain_;
  HxMacAddress sender_mac_;
};
