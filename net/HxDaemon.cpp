#include "net/HxDaemon.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "config/HxClientConfig.h"
#include "core/HxDebug.h"
#include "core/HxFile.h"
#include "core/HxList.h"

namespace {

constexpr int kErrors = 0x2000;
constexpr int kWarnings = 0x4000;
constexpr int kInfo = 0x100000;
// The client flag that refuses messages naming no tarv domain.
constexpr int kRestrictDomain = 0x80;
// A peer that sends no version field speaks the protocol of version 350.
constexpr int kUnversioned = 350;

void log_line(int bit, HxString const& text) {
  if ((hx_debug_verb() & bit) == 0) return;
  HxDebug& log = *hx_debug_obj();
  log.lock();
  log.mark() << text << '\n';
  log.unlock();
}

// "EE:EE:" and the peer's address in hexadecimal groups: a stand-in MAC
// address that still tells the senders apart.
HxMacAddress peer_mac(HxAddress const& peer) {
  HxString text("EE:EE:");
  HxString hex = peer.hexvalue();
  for (int i = 0; i < hex.length(); ++i) text += hex.get(i) == '.' ? ':' : hex.get(i);
  return HxMacAddress(text);
}

}  // namespace

std::atomic<int> HxDaemon::sizelimit_{-1};

// ---- ports -----------------------------------------------------------------

int HxDaemon::openport(int address, int port, int type) {
  int opened = HxServer::openport(address, port, type);
  if (!active()) {
    log_line(kErrors, "ERROR: " + error().value());
    return 0;
  }
  return opened;
}

int HxDaemon::openport(int address, int port) { return openport(address, port, 1); }

int HxDaemon::openport(int port) { return openport(0, port, 1); }

// ---- serving ---------------------------------------------------------------

int HxDaemon::eventloop(int n) {
  bool const restrict_domain = (HxClientConfig().client_flags() & kRestrictDomain) != 0;
  bool const limited = n != -1;
  int count = 0;
  for (;;) {
    if (limited) {
      if (n < 1) break;
      --n;
    }
    std::unique_ptr<HxConnection> conn(service(-1));
    if (conn == nullptr) {
      if (status() == -1) {
        log_line(kErrors, "ERROR: " + error().value());
        return -1;
      }
      if (limited) return 0;
      continue;
    }
    int const kind = conn->type();
    if (kind == 4 || kind == 7) {
      connhandler(*conn);
      ++count;
    } else {
      int length = 0;
      std::unique_ptr<char[]> data(conn->receive(length));
      if (data != nullptr) {
        HxMessage msg;
        msg.version(kUnversioned);
        // A request that does not decode (or decodes to more than the
        // decode budget grants) is left at tag 0: nothing to serve.
        msg.unpackReceived(data.get(), length);
        data.reset();
        msg.address(conn->address());
        int const tag = msg.tag();
        if (tag == 0) {
          // nothing to serve
        } else if (restrict_domain && msg.tarvdomain().length() == 0) {
          if (kind != 2) {
            HxMessage refusal(0);
            reply(refusal, *conn);
            log_line(kWarnings, "WARNING: ignoring undefined domain communication - " + conn->address().stringvalue());
          }
        } else {
          if (msg.macaddress().blank()) msg.macaddress(peer_mac(conn->address()));
          conn->version(msg.version());
          eventhandler(tag, msg, *conn);
          ++count;
        }
      }
    }
    long long const moved = conn->handled();
    conn.reset();
    int const limit = sizelimit_;
    if (limit >= 0 && moved >= limit) break;
  }
  return count;
}

int HxDaemon::reject(HxAddress& peer) {
  int const kept = timeout();
  timeout(0);
  std::unique_ptr<HxConnection> conn(service(2));
  timeout(kept);
  if (conn == nullptr) return 0;
  peer = conn->address();
  if (conn->type() != 1 && conn->type() != 5) return 0;
  int length = 0;
  std::unique_ptr<char[]> data(conn->receive(length));
  if (data == nullptr) return 0;
  data.reset();
  HxMessage refusal(5);
  refusal.version(kUnversioned);
  reply(refusal, *conn);
  return 1;
}

int HxDaemon::reply(HxMessage& msg, HxConnection& conn) {
  msg.macaddress(HxConnection::primarymacaddress());
  msg.pack();
  int const sent = conn.send(msg.packContents(), msg.packSize());
  msg._clear();
  if (sent < 0) {
    log_line(kErrors, "ERROR: unable to reply - " + conn.error().value());
    return 0;
  }
  return sent > 0 ? 1 : 0;
}

// ---- output and logs -------------------------------------------------------

void HxDaemon::redirectOutput(HxString const& path, int count) {
  if (path.length() == 0) return;
  if (path == HxString("stdout") || path == HxString("stderr")) {
    log_line(kInfo, "INFO: pipe output to STDOUT");
    return;
  }
  logpath_ = path;
  logcount_ = count;
  log_line(kInfo, "INFO: redirecting output to: '" + path + "'");
  _redirectOutput();
}

// The file is opened first and only then put in place of both streams: a
// path that cannot be opened leaves them as they were (reopening a stream
// in place would close it before knowing whether the new file opens).
void HxDaemon::_redirectOutput() {
  if (logpath_.length() == 0) return;
  int fd = ::open(logpath_.value(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) {
    log_line(kErrors, "ERROR: unable to open log file: '" + logpath_ + "'");
    return;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(fd, STDOUT_FILENO);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
  hx_debug_filename(logpath_, 0);
}

void HxDaemon::manageLogs() {
  if (logpath_.length() == 0) return;
  HxStringList files;
  hx_debug_logfiles(logpath_, files);
  files.sort(hx_daemon_filecmp);
  // A negative count keeps everything rather than removing every file.
  int const keep = logcount_ < 0 ? files.length() : logcount_;
  for (int i = keep; i < files.length(); ++i) {
    HxString const& name = *files.get(i);
    log_line(kInfo, "INFO: removing log file: " + name);
    HxFile::remove(name);
  }
}

int hx_daemon_filecmp(HxString const* a, HxString const* b) {
  int const ta = HxFile::modified(*a);
  int const tb = HxFile::modified(*b);
  if (tb > ta) return 1;
  if (tb < ta) return -1;
  return 0;
}

void HxDaemon::display() {
  for (int i = 0; i < length(); ++i) {
    HxString line("INFO: opened address: ");
    line += HxAddress(static_cast<int>(address(i))).stringvalue();
    line += " port: ";
    line += port(i);
    line += " type: ";
    line += porttype(i);
    line += ".";
    log_line(kInfo, line);
  }
  log_line(kInfo, "INFO: mac address: " + HxConnection::primarymacaddress().value());
}
