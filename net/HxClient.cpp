#include "net/HxClient.h"

#include <cstdint>
#include <string>

#include "core/HxDebug.h"
#include "core/HxInterrupt.h"
#include "core/HxUser.h"
#include "core/HxWorld.h"
#include "net/HxNetLimits.h"

namespace {

// One line of the client to the debug log, with its prefix, whatever the
// verbosity: a failed conversation is always worth a line.
void log_line(HxString const& text) {
  HxDebug& d = *hx_debug_obj();
  d.lock();
  d.mark() << text << '\n';
  d.unlock();
}

HxString text_of(long long n) { return HxString(std::to_string(n).c_str()); }

// 1 + floor(k * r / 2^31) for a draw r of 0 .. 2^31 - 1: a whole number of
// seconds from 1 to k. The product is taken in 64 bits.
int draw_seconds(int k) { return 1 + static_cast<int>(static_cast<int64_t>(k) * hx_world().random() / (int64_t{1} << 31)); }

void pause_seconds(int seconds) { hx_world().sleepMillis(int64_t{1000} * seconds); }

// The host domain a configuration gives a sender: "." when it names none.
HxString host_domain_of(HxClientConfig const& config) {
  HxString const& domain = config.client_host_domain();
  return domain.length() > 0 ? domain : HxString(".");
}

}  // namespace

HxClient::HxClient() = default;

HxString HxClient::currentuser() {
  HxConnection::init();
  return hx_current_user();
}

HxString HxClient::currentdomain() {
  HxConnection::init();
  HxClientConfig fresh;
  return host_domain_of(fresh);
}

HxMacAddress HxClient::currentmacaddress() { return HxConnection::primarymacaddress(); }

void HxClient::stamp_(HxMessage& m) {
  if (!identified_) {
    sender_user_ = currentuser();
    // The client's own configuration, read when it was built, gives the
    // host domain: what currentdomain() would read again.
    sender_domain_ = host_domain_of(config_);
    sender_mac_ = HxConnection::primarymacaddress();
    identified_ = true;
  }
  m.user(sender_user_);
  m.domain(sender_domain_);
  m.macaddress(sender_mac_);
  m.tarvdomain(domain_.length() > 0 ? domain_ : config_.hx_domain());
  m.tarvregion(config_.hx_region());
  m.pack();
}

bool HxClient::converse(HxString const& host, int port, HxMessage& request, HxMessage& reply) {
  rejected_ = false;
  if (host.length() == 0) return false;
  lastcontact_ = host;
  HxConnection c(host, port, 1, conversetimeout_);
  if (!c.active()) {
    log_line("ERROR: unable to establish " + c.stringtype() + " connection with " + host + " - " + c.error().value() +
             ".");
    error_ = c.error();
    return false;
  }
  stamp_(request);
  int const sent = c.send(request.packContents(), request.packSize());
  request._clear();
  if (sent == -1) {
    log_line("ERROR: unable to transmit to " + host + " - " + c.error().value() + ".");
    error_ = c.error();
    return false;
  }
  int length = 0;
  char* data = c.receive(length);
  if (data == nullptr) {
    log_line("ERROR: unable to receive from " + host + " - " + c.error().value() + ".");
    error_ = c.error();
    return false;
  }
  reply.unpackReceived(data, length);
  reply.address(c.address());
  delete[] data;
  c.release();
  if (reply.tag() == 0) {
    pause_seconds(draw_seconds(10));
    return false;
  }
  if (reply.tag() == 5) {
    log_line("ERROR: max connections reached for " + host + " - connection rejected.");
    rejected_ = true;
    error_ = c.error();
    pause_seconds(draw_seconds(10));
    return false;
  }
  return true;
}

bool HxClient::transmit(HxString const& host, int port, HxMessage& request) {
  if (host.length() == 0) return false;
  lastcontact_ = host;
  HxConnection c(host, port, 1, 30000);
  if (!c.active()) {
    error_ = c.error();
    return false;
  }
  stamp_(request);
  int const sent = c.send(request.packContents(), request.packSize());
  request._clear();
  error_ = c.error();
  return sent != -1;
}

bool HxClient::datagram_(HxString const& host, int port, HxMessage& request) {
  HxConnection c(host, port, 2, 30000);
  stamp_(request);
  int const sent = c.send(request.packContents(), request.packSize());
  request._clear();
  error_ = c.error();
  return sent != 0;
}

bool HxClient::telegram(HxString const& host, int port, HxMessage& request) {
  if (host.length() == 0) return false;
  return datagram_(host, port, request);
}

bool HxClient::broadcast(int port, HxMessage& request) { return datagram_(HxString(), port, request); }

char* HxClient::pollFirst_(HxConnection& c, HxMessage& request, int& length) {
  c.timeout(conversetimeout_ / 6);
  stamp_(request);
  char* data = nullptr;
  for (int attempt = 0; attempt < 6 && data == nullptr; ++attempt) {
    if (c.send(request.packContents(), request.packSize()) == 0) break;
    data = c.receive(length);
  }
  request._clear();
  if (data == nullptr) {
    log_line("ERROR: " + c.error().value() + ".");
    error_ = c.error();
  }
  return data;
}

bool HxClient::poll(int port, HxMessage& request, HxMessage& reply) {
  rejected_ = false;
  HxConnection c(HxString(), port, 2, 30000);
  int length = 0;
  char* data = pollFirst_(c, request, length);
  if (data == nullptr) return false;
  reply.unpackReceived(data, length);
  reply.address(c.address());
  delete[] data;
  c.release();
  if (reply.tag() == 0) {
    pause_seconds(draw_seconds(20));
    return false;
  }
  if (reply.tag() == 5) {
    log_line("ERROR: max connections reached.");
    error_ = c.error();
    rejected_ = true;
    pause_seconds(draw_seconds(10));
    return false;
  }
  return true;
}

bool HxClient::poll(int port, HxMessage& request, HxMessageList& replies) {
  rejected_ = false;
  HxConnection c(HxString(), port, 2, 30000);
  int length = 0;
  char* data = pollFirst_(c, request, length);
  if (data == nullptr) return false;
  // Answers are taken until a wait passes in silence, up to a number of
  // answers and a time since the first one.
  int64_t const first = hx_world().now();
  int answers = 0;
  while (data != nullptr) {
    auto* m = new HxMessage();
    m->unpackReceived(data, length);
    m->address(c.address());
    delete[] data;
    data = nullptr;
    if (m->tag() == 0 || m->tag() == 5) {
      delete m;
    } else {
      replies.append(m);
    }
    if (++answers >= kHxMaxPollReplies) break;
    if ((hx_world().now() - first) * 1000 >= conversetimeout_) break;
    data = c.receive(length);
  }
  if (replies.length() >= 1) {
    c.release();
    return true;
  }
  log_line("ERROR: " + c.error().value() + ".");
  error_ = c.error();
  return false;
}

bool HxClient::converseWorker(HxString const& host, HxMessage& request, HxMessage& reply) {
  return converse(host, config_.worker_port(), request, reply);
}

bool HxClient::transmitWorker(HxString const& host, HxMessage& request) {
  return transmit(host, config_.worker_port(), request);
}

bool HxClient::telegramWorker(HxString const& host, HxMessage& request) {
  return telegram(host, config_.worker_port(), request);
}

bool HxClient::converseWorkerWithRetries(HxString const& host, HxMessage& request, HxMessage& reply, int retries) {
  if (retries < 0) return false;
  long long const attempts = static_cast<long long>(retries) + 1;
  for (long long attempt = 1; attempt <= attempts; ++attempt) {
    int const r = hx_world().random();
    if (converseWorker(host, request, reply)) return true;
    if (hx_interrupted()) return false;  // a signal ended the request
    log_line("WARNING: converseWorker() attempt[" + text_of(attempt) + "/" + text_of(attempts) + "] to worker[" +
             host + "] failed (worker down?)");
    if (attempt == attempts || rejected_) continue;
    int const seconds = r % 6 + 5;
    log_line("WARNING:: retrying in [" + HxString(seconds) + "] seconds.");
    pause_seconds(seconds);
  }
  return false;
}
