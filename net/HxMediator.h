#pragma once

#include "core/HxString.h"
#include "model/farm/HxProperty.h"
#include "model/job/HxPost.h"
#include "net/HxDaemon.h"

// The small message server a job process opens while it waits for events:
// one UDP port to which the supervisor sends the post that answers the
// process's registration (1101), texts to collect (1104) and a
// subscription's property table (1201). It keeps the last post and table and
// the collected texts for the waiting caller, and never replies.
//
// It carries the record operations of a serialisable class (type 200000,
// tag "mediator") but has no record form: they do nothing.
class HxMediator : public HxDaemon {
 public:
  HxMediator() = default;

  int type() const override { return 200000; }
  void eventhandler(int tag, HxMessage& msg, HxConnection& conn) override;
  virtual void encode() {}
  virtual void decode() {}
  virtual HxString typeXML() const { return "mediator"; }
  virtual void encodeXML() {}
  virtual bool decodeXML() { return false; }

  // Each acts only on a content of the expected class that matches the
  // message's declared content type; anything else changes nothing.
  // 1101: the post becomes a copy of the content.
  void respondPost(HxMessage& msg, HxConnection& conn);
  // 1104: the list's first text is appended to the buffer, while the buffer
  // stays within kHxMaxMediatorBuffer; a text that would pass it is dropped.
  void respondText(HxMessage& msg, HxConnection& conn);
  // 1201: the table is replaced by a copy of the content.
  void respondSubscription(HxMessage& msg, HxConnection& conn);

  HxPost const& post() const { return post_; }
  void post(HxPost const& p) { post_ = p; }
  HxPropertyHash const& stats() const { return stats_; }
  HxString const& buffer() const { return buffer_; }

 private:
  HxPost post_;
  HxPropertyHash stats_;
  HxString buffer_;
};
