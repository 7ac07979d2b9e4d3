#include "net/HxMediator.h"

#include "core/HxList.h"
#include "net/HxNetLimits.h"

namespace {

// The content when it is an object of class T that matches the declared
// content type; null otherwise. Anyone can send a datagram to the port, so
// nothing is believed from the type number alone.
template <class T>
T* content_as(HxMessage& msg) {
  HxPack* content = msg.content();
  if (content == nullptr || content->type() != msg.contenttype()) return nullptr;
  return dynamic_cast<T*>(content);
}

}  // namespace

void HxMediator::eventhandler(int tag, HxMessage& msg, HxConnection& conn) {
  switch (tag) {
    case 1101:
      respondPost(msg, conn);
      break;
    case 1104:
      respondText(msg, conn);
      break;
    case 1201:
      respondSubscription(msg, conn);
      break;
    default:
      break;
  }
}

void HxMediator::respondPost(HxMessage& msg, HxConnection&) {
  if (HxPost* p = content_as<HxPost>(msg)) post_ = *p;
}

void HxMediator::respondText(HxMessage& msg, HxConnection&) {
  HxStringList* texts = content_as<HxStringList>(msg);
  if (texts == nullptr || texts->length() < 1) return;
  HxString const& text = *texts->get(0);
  if (static_cast<size_t>(buffer_.length()) + static_cast<size_t>(text.length()) > kHxMaxMediatorBuffer) return;
  buffer_ += text;
}

void HxMediator::respondSubscription(HxMessage& msg, HxConnection&) {
  if (HxPropertyHash* table = content_as<HxPropertyHash>(msg)) stats_.copy(*table);
}
