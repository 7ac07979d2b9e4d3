#include "net/HxMessage.h"

#include <memory>

#include "core/HxDebug.h"
// core
#include "core/HxAddress.h"
#include "core/HxError.h"
#include "core/HxFile.h"
#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxTime.h"
// expr, config
#include "config/HxConfig.h"
#include "config/HxConfigFile.h"
#include "config/HxOption.h"
#include "expr/HxValue.h"
// model/job
#include "model/job/HxAssignment.h"
#include "model/job/HxCallback.h"
#include "model/job/HxCallbackId.h"
#include "model/job/HxCommand.h"
#include "model/job/HxEvent.h"
#include "model/job/HxJob.h"
#include "model/job/HxJobGraph.h"
#include "model/job/HxJobId.h"
#include "model/job/HxHistory.h"
#include "model/job/HxLog.h"
#include "model/job/HxPost.h"
#include "model/job/HxQuery.h"
#include "model/job/HxReservation.h"
#include "model/job/HxResult.h"
#include "model/job/HxStatus.h"
#include "model/job/HxSubjob.h"
#include "model/job/HxVariable.h"
#include "model/job/HxVariableId.h"
#include "model/job/HxWork.h"
#include "model/job/HxWorkId.h"
// model/farm
#include "model/farm/HxAccess.h"
#include "model/farm/HxAdmin.h"
#include "model/farm/HxDomain.h"
#include "model/farm/HxDuty.h"
#include "model/farm/HxHost.h"
#include "model/farm/HxPreference.h"
#include "model/farm/HxProperty.h"
#include "model/farm/HxResource.h"
#include "model/farm/HxState.h"
#include "model/farm/HxSupe.h"
#include "model/farm/HxSync.h"
// net
#include "net/HxIntro.h"

// The classes a message carries as content, by type number: the protocol's
// vocabulary. Every one is destroyed through its virtual destructor, which
// reaches the whole object whether it is a record, a list or a hash.
// Type 51 is shared by the configuration list and hash: the list is made.
// Job graphs (113) travel in a graph submission and its reply, and job
// statistics (42) in their own replies: both are registered.
#define HX_CONTENT_CLASSES(X)   \
  X(1, HxJob)                   \
  X(4, HxSubjob)                \
  X(5, HxJobList)               \
  X(9, HxHost)                  \
  X(11, HxResourceList)         \
  X(12, HxHostList)             \
  X(14, HxWork)                 \
  X(15, HxWorkList)             \
  X(16, HxEvent)                \
  X(17, HxEventList)            \
  X(18, HxJobIdList)            \
  X(19, HxJobId)                \
  X(21, HxFilterList)           \
  X(24, HxQuery)                \
  X(25, HxAssignment)           \
  X(26, HxAssignmentList)       \
  X(28, HxReservationList)      \
  X(30, HxCommand)              \
  X(32, HxStatusTally)          \
  X(33, HxTime)                 \
  X(34, HxHistory)              \
  X(35, HxHistoryList)          \
  X(36, HxLog)                  \
  X(37, HxLogList)              \
  X(38, HxDataTable)            \
  X(39, HxDataTableList)        \
  X(42, HxJobStats)             \
  X(43, HxReport)               \
  X(45, HxDutyList)             \
  X(47, HxCallbackList)         \
  X(48, HxModifyCommand)        \
  X(50, HxConfig)               \
  X(51, HxConfigList)           \
  X(52, HxOldError)             \
  X(54, HxOptionList)           \
  X(55, HxStringList)           \
  X(56, HxStringHash)           \
  X(59, HxWorkId)               \
  X(60, HxWorkIdList)           \
  X(62, HxDomain)               \
  X(63, HxHostname)             \
  X(64, HxHostnameList)         \
  X(67, HxResourceHash)         \
  X(69, HxBumpCommand)          \
  X(91, HxPropertyList)         \
  X(92, HxPropertyHash)         \
  X(93, HxRequest)              \
  X(94, HxRequestList)          \
  X(95, HxAccess)               \
  X(96, HxAccessList)           \
  X(105, HxFile)                \
  X(113, HxJobGraph)            \
  X(119, HxFileList)            \
  X(120, HxVariable)            \
  X(121, HxVariableList)        \
  X(130, HxVariableId)          \
  X(132, HxOperation)           \
  X(133, HxPost)                \
  X(134, HxPostList)            \
  X(152, HxSubscription)        \
  X(153, HxSubscriptionList)    \
  X(155, HxMacAddress)          \
  X(169, HxOrder)               \
  X(170, HxIntro)               \
  X(171, HxSync)                \
  X(172, HxSupe)                \
  X(173, HxSupeList)            \
  X(175, HxError)               \
  X(176, HxIntHash)             \
  X(181, HxHostStats)           \
  X(188, HxResult)              \
  X(189, HxAdminOrder)          \
  X(190, HxAdminResult)         \
  X(197, HxCallbackId)          \
  X(198, HxCallbackIdList)      \
  X(200, HxValue)               \
  X(201, HxDbField)             \
  X(202, HxDbRow)               \
  X(203, HxDbRows)              \
  X(204, HxPreference)

namespace {

// The message layer's own debug lines: written whatever the verbosity, with
// no time-stamp prefix, as one piece under the log's lock.
void bare_line(HxString const& text) {
  HxDebug& d = *hx_debug_obj();
  d.lock();
  d << text << '\n';
  d.unlock();
}

}  // namespace

HxPack* HxMessage::mapobj(int code) {
  switch (code) {
#define HX_CONTENT_NEW(number, Class) \
  case number:                        \
    return new Class();
    HX_CONTENT_CLASSES(HX_CONTENT_NEW)
#undef HX_CONTENT_NEW
    default:
      break;
  }
  HxString line("trying to decode unregistered class: ");
  line += code;
  bare_line(line);
  return nullptr;
}

namespace {

// The bytes of the object the registry makes for a code; 0 for an
// unregistered one.
long long content_bytes(int code) {
  switch (code) {
#define HX_CONTENT_SIZE(number, Class) \
  case number:                         \
    return static_cast<long long>(sizeof(Class));
    HX_CONTENT_CLASSES(HX_CONTENT_SIZE)
#undef HX_CONTENT_SIZE
    default:
      return 0;
  }
}

}  // namespace

bool HxMessage::unpackReceived(char const* data, int length) {
  HxMessage fresh;
  fresh.version(version());
  *this = fresh;
  {
    HxDecodeBudget budget;
    unpack(data, length);
    if (!budget.spent()) return true;
  }
  *this = fresh;
  return false;
}

bool HxMessage::registered(int code) {
  switch (code) {
#define HX_CONTENT_KNOWN(number, Class) \
  case number:                          \
    return true;
    HX_CONTENT_CLASSES(HX_CONTENT_KNOWN)
#undef HX_CONTENT_KNOWN
    default:
      return false;
  }
}

void HxMessage::clear() {
  HxPack* held = content_.object;
  if (held == nullptr) return;
  content_.object = nullptr;
  int const code = held->type();
  if (registered(code)) {
    delete held;
    return;
  }
  HxString line("ERROR: possible memory leak in message module; content-type[");
  line += code;
  line += "]";
  bare_line(line);
}

void HxMessage::copy(HxMessage const& other) {
  // Copying a message onto itself would turn its content into an empty one.
  if (&other == this) return;
  tag_ = other.tag_;
  user_ = other.user_;
  domain_ = other.domain_;
  tarv_domain_ = other.tarv_domain_;
  tarv_region_ = other.tarv_region_;
  content_type_ = other.content_type_;
  mac_address_.copy(other.mac_address_);
  version_ = other.version_;
  clear();
  if (other.content_.object != nullptr) {
    content_.object = mapobj(content_type_);
    bare_line("ERROR: using message copy");
  }
}

void HxMessage::restoreptr(short field, HxPack** target) {
  if (_field() != field || _kind() != kHxKindObject) return;
  if (length_ < 4) return drop_();
  int const code = _rc_int32(cursor_);
  cursor_ += 4;
  length_ -= 4;
  clear();
  // The content claims its object from the decode budget like any item.
  if (!HxDecodeBudget::claim(content_bytes(code))) return drop_();
  std::unique_ptr<HxPack> made(mapobj(code));
  if (made == nullptr || made->type() != code) return drop_();
  if (length_ < 4) return drop_();
  int const n = _rc_int32(cursor_);
  cursor_ += 4;
  length_ -= 4;
  if (n < 0 || n > length_) return drop_();
  made->_unpack(cursor_, n);
  // A content cut short by the budget is no content: it goes at once, with
  // the rest of the message.
  if (HxDecodeBudget::refused()) return drop_();
  cursor_ += n;
  length_ -= n;
  *target = made.release();
  consumed_ = 1;
}
