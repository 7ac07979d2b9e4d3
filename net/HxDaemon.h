#pragma once

#include <atomic>

#include "core/HxString.h"
#include "net/HxConnection.h"
#include "net/HxMessage.h"
#include "net/HxServer.h"

// A listening server that serves messages: each ready connection delivers
// one packed message, which is checked against the domain restriction of
// the client configuration, given a MAC address when it came without one,
// and handed to eventhandler(). Raw TCP connections go to connhandler()
// instead. Beside the loop: opening the ports, refusing a connection,
// replying, and sending the process's output to a log file whose older
// generations are trimmed.
class HxDaemon : public HxServer {
 public:
  HxDaemon() = default;
  ~HxDaemon() override = default;

  // One message of a connection; the handler replies through reply() while
  // the connection is open.
  virtual void eventhandler(int tag, HxMessage& msg, HxConnection& conn) = 0;
  // A raw connection; nothing by default.
  virtual void connhandler(HxConnection&) {}

  // The server's forms (append a slot, open all). A server left inactive
  // logs "ERROR: " and its error and gives 0: the process goes on and the
  // caller decides (a library must not end the interpreter that loads it).
  using HxServer::openport;
  int openport(int address, int port, int type);
  int openport(int address, int port);
  int openport(int port);

  // Serves n connections, or without end for -1. The number of messages and
  // raw connections handed on; -1 after a failed wait; 0 when a limited
  // loop met a time-out. Messages of tag 0 and messages refused by the
  // domain restriction are not counted.
  int eventloop(int n);
  // Answers one pending connection of a class-2 port with a refusal (tag 5,
  // version 350) without serving it; 1 when it did. peer gets the sender.
  int reject(HxAddress& peer);
  // Stamps the host's MAC address on msg and sends it: 1 when bytes went
  // out, 0 otherwise (a failed frame also logs "ERROR: unable to reply - ").
  int reply(HxMessage& msg, HxConnection& conn);

  // The loop ends after a connection that moved at least this many bytes;
  // -1 (the start) means no limit. One value for every daemon.
  static void setSizeLimit(int n) { sizelimit_ = n; }
  static int sizeLimit() { return sizelimit_; }

  // "stdout" or "stderr" leaves the output alone; any other non-empty path
  // receives standard output, standard error and the debug log, and
  // manageLogs() keeps the newest `count` of its generations.
  void redirectOutput(HxString const& path, int count);
  void _redirectOutput();
  void manageLogs();
  // Lists every port and the host's MAC address in the debug log.
  void display();

  HxString const& logpath() const { return logpath_; }
  int logcount() const { return logcount_; }

 private:
  HxString logpath_;
  int logcount_ = 0;
  static std::atomic<int> sizelimit_;
};

// Orders log files newest first: 1 when b was modified later than a, -1
// when earlier, 0 in the same second.
int hx_daemon_filecmp(HxString const* a, HxString const* b);
