#pragma once

#include "core/HxAddress.h"
#include "core/HxString.h"
#include "core/pack/HxRecord.h"

// The content slot of a message: the one member of the envelope that is an
// owned pointer rather than a value, so it gets a codec of its own (below):
// written only when set, read through HxMessage::restoreptr.
struct HxMessageContent {
  HxPack* object = nullptr;
};

template <>
struct HxFieldCodec<HxMessageContent> {
  static void store(HxPack& p, short f, HxMessageContent& m);
  static void restore(HxPack& p, short f, HxMessageContent& m);
  static void storeXML(HxPack& p, HxString const& n, HxMessageContent& m);
  static void restoreXML(HxPack& p, HxString const& n, HxMessageContent& m);
};

// The envelope of every request and reply: who sends it, the protocol
// version, and at most one content object, which the message owns.
//
// Binary records in this order: tag 1, user 2, domain 5, mac_address 6,
// content_type 4, content 3 (only when there is content), version 7,
// tarv_domain 8, tarv_region 9. The peer address is never packed or copied.
// On decoding, fields absent from the bytes keep what the receiver set
// before (a server presets version 350 to recognise peers that send none).
class HxMessage : public HxRecord<HxMessage> {
 public:
  HxMessage() = default;
  explicit HxMessage(int tag) : tag_(tag) {}
  // Copies the fields but not the content: a held content becomes a new
  // empty object of the same type (see copy()).
  HxMessage(HxMessage const& other) : HxRecord<HxMessage>() { copy(other); }
  HxMessage& operator=(HxMessage const& other) {
    copy(other);
    return *this;
  }
  ~HxMessage() override { clear(); }

  int type() const override { return 7; }
  HxString typeXML() const override { return "message"; }
  static auto wire_fields() {
    return std::make_tuple(hx_field(1, "tag", &HxMessage::tag_), hx_field(2, "user", &HxMessage::user_),
                           hx_field(5, "domain", &HxMessage::domain_),
                           hx_field(6, "mac_address", &HxMessage::mac_address_),
                           hx_field(4, "content_type", &HxMessage::content_type_),
                           hx_field(3, "content", &HxMessage::content_),
                           hx_field(7, "version", &HxMessage::version_),
                           hx_field(8, "tarv_domain", &HxMessage::tarv_domain_),
                           hx_field(9, "tarv_region", &HxMessage::tarv_region_));
  }

  // Copies tag, texts, MAC address, version and content type (not the peer
  // address). The own content is cleared; a content held by the other
  // message is not copied: it becomes a new empty object of the other's
  // content type, and the debug log says so.
  void copy(HxMessage const& other);

  int tag() const { return tag_; }
  void tag(int t) { tag_ = t; }
  int version() const { return version_; }
  void version(int v) { version_ = v; }
  int contenttype() const { return content_type_; }
  HxString const& user() const { return user_; }
  void user(HxString const& s) { user_ = s; }
  HxString const& domain() const { return domain_; }
  void domain(HxString const& s) { domain_ = s; }
  HxString const& tarvdomain() const { return tarv_domain_; }
  void tarvdomain(HxString const& s) { tarv_domain_ = s; }
  HxString const& tarvregion() const { return tarv_region_; }
  void tarvregion(HxString const& s) { tarv_region_ = s; }
  HxMacAddress const& macaddress() const { return mac_address_; }
  void macaddress(HxMacAddress const& m) { mac_address_.copy(m); }
  HxAddress const& address() const { return address_; }
  void address(HxAddress const& a) { address_.copy(a); }

  // The content, still owned by the message; may be null.
  HxPack* content() const { return content_.object; }
  // Holds obj from now on without destroying an earlier content, so that a
  // lent object is handed back with content(nullptr). A non-null obj sets
  // the content type to its type(); null leaves the type as it was.
  void content(HxPack* obj) {
    content_.object = obj;
    if (obj != nullptr) content_type_ = obj->type();
  }
  // Forgets the content without destroying it: the caller owns it now.
  void release() { content_.object = nullptr; }
  // Destroys the content. One whose type the registry does not know was not
  // made here and is only forgotten, with a line in the debug log.
  void clear();

  // Reads a received message into this one, cleared first so that bytes
  // that do not decode leave tag 0 (a failure) rather than what an earlier
  // exchange left; only the version set before survives (a peer that sends
  // none keeps it). A message that decodes to more than the decode budget
  // (HxDecodeBudget) grants does not decode either: it is cleared again, its
  // records go at once, and the result is false.
  bool unpackReceived(char const* data, int length);

  // Reads the content record of `field` into *target: the class code, a new
  // empty object of that class from mapobj(), then its records. An
  // unregistered or mismatched code, a length the bytes cannot hold, or a
  // content that the decode budget (HxDecodeBudget) cannot pay for leaves
  // the content null and drops the rest of the buffer.
  virtual void restoreptr(short field, HxPack** target);

  // A new empty object of the content class registered for code, owned by
  // the caller; null (and a line in the debug log) for any other code.
  static HxPack* mapobj(int code);
  // Whether the registry knows the code.
  static bool registered(int code);

 private:
  int tag_ = 0;
  HxAddress address_;
  HxMacAddress mac_address_;
  HxString user_;
  HxString domain_;
  HxString tarv_domain_;
  HxString tarv_region_;
  int version_ = 530;
  int content_type_ = 0;
  HxMessageContent content_;
};

inline void HxFieldCodec<HxMessageContent>::store(HxPack& p, short f, HxMessageContent& m) {
  if (m.object != nullptr) p.store(f, *m.object);
}
inline void HxFieldCodec<HxMessageContent>::restore(HxPack& p, short f, HxMessageContent& m) {
  static_cast<HxMessage&>(p).restoreptr(f, &m.object);
}
inline void HxFieldCodec<HxMessageContent>::storeXML(HxPack& p, HxString const& n, HxMessageContent& m) {
  if (m.object != nullptr) p.storeXML(n, *m.object);
}
// The XML form names no class: only a content the message already holds is
// filled.
inline void HxFieldCodec<HxMessageContent>::restoreXML(HxPack& p, HxString const& n, HxMessageContent& m) {
  if (m.object != nullptr) p.restoreXML(n, *m.object);
}
