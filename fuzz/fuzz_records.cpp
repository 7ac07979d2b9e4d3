// Arbitrary bytes decoded into every record class of the library, in the
// binary form (with and without the header) and in the XML form. Decoding
// stays within the input and ends; whatever decodes is written and read back
// without loss, in either form.
//
// Adding a record class: include its header below and add one row
//   HX_FUZZ_RECORD(ClassName)
// to the table, in the section of its folder. Keep rows of a folder
// together so that classes added from different folders never touch the
// same lines.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/pack/HxPack.h"
#include "fuzz/FuzzBudget.h"

// core
#include "core/HxAddress.h"
#include "core/HxError.h"
#include "core/HxFile.h"
#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxTime.h"
// expr
#include "expr/HxExpression.h"
#include "expr/HxValue.h"
#include "expr/HxWeekCalendar.h"
// config
#include "config/HxConfig.h"
#include "config/HxConfigFile.h"
#include "config/HxEnv.h"
#include "config/HxOption.h"
#include "config/HxPathMap.h"
// model/job
#include "model/job/HxCallbackId.h"
#include "model/job/HxJobId.h"
#include "model/job/HxReservation.h"
#include "model/job/HxStatus.h"
#include "model/job/HxVariableId.h"
#include "model/job/HxWorkId.h"
#include "model/job/HxCallback.h"
#include "model/job/HxEvent.h"
#include "model/job/HxPost.h"
#include "model/job/HxQuery.h"
#include "model/job/HxResult.h"
#include "model/job/HxVariable.h"
#include "model/job/HxCommand.h"
#include "model/job/HxJob.h"
#include "model/job/HxSubjob.h"
#include "model/job/HxWork.h"
#include "model/job/HxAssignment.h"
#include "model/job/HxHistory.h"
#include "model/job/HxJobGraph.h"
#include "model/job/HxLog.h"
// model/farm
#include "model/farm/HxAdmin.h"
#include "model/farm/HxHost.h"
#include "model/farm/HxProperty.h"
#include "model/farm/HxResource.h"
#include "model/farm/HxState.h"
#include "model/farm/HxAccess.h"
#include "model/farm/HxDomain.h"
#include "model/farm/HxDuty.h"
#include "model/farm/HxPreference.h"
#include "model/farm/HxSupe.h"
#include "model/farm/HxSync.h"
// net
#include "net/HxIntro.h"
#include "net/HxMessage.h"

namespace {

std::string packed(HxPack& r) { return std::string(r.packContents(), static_cast<size_t>(r.packSize())); }

// The binary form of r read into a fresh T; the size it packs to again.
template <class T>
size_t binary_again(T& r) {
  r.pack();
  std::string const once = packed(r);
  T back;
  if (back.unpack(once.data(), static_cast<int>(once.size())) != 0 && once.size() > 4) __builtin_trap();
  back.pack();
  return static_cast<size_t>(back.packSize());
}

// The XML document of r read into to.
template <class T>
bool xml_again(T& r, T& to) {
  r.packXML();
  std::string const doc = "<pack>\n" + packed(r) + "\n</pack>";
  r._clear();
  return to.unpackXML(doc.data(), static_cast<int>(doc.size())) == 0;
}

// The first decode runs under the fuzz budget (what it claims and holds is
// checked); the round trips read what it let through, under the default.
template <class T>
void fuzz_one(char const* bytes, int n, int form) {
  T first;
  bool read = true;
  {
    FuzzBudget budget;
    switch (form) {
      case 0:
        read = first.unpack(bytes, n) == 0;
        budget.check();
        break;
      case 1:
        // A header-less body, as the message envelope hands it over.
        first._unpack(bytes, n);
        budget.check();
        break;
      case 2:
        read = first.unpackXML(bytes, n) == 0;
        budget.check(static_cast<size_t>(n));
        break;
      default: {
        // The members of the record inside a ready document, which reaches
        // the field readers sooner than a whole document from nothing.
        std::string doc = "<pack><version>1</version><object type = '";
        doc += first.typeXML().value();
        doc += "'>" + std::string(bytes, static_cast<size_t>(n)) + "</object></pack>";
        read = first.unpackXML(doc.data(), static_cast<int>(doc.size())) == 0;
        budget.check(doc.size());
        break;
      }
    }
  }
  if (!read) return;
  // Binary: packing what was read and reading it back loses nothing. The
  // bytes may differ in the order of hash entries, never in their size.
  first.pack();
  size_t const size = static_cast<size_t>(first.packSize());
  if (binary_again(first) != size) __builtin_trap();
  // XML: what was read can be written and read again; from the second pass
  // on the text keeps its size (the first may still round a float or turn a
  // carriage return into a line feed), and its binary form is the same.
  // The XML form cannot carry control bytes in values (the document would
  // not read back); such records are checked in the binary form only.
  first.packXML();
  for (int i = 0; i < first.packSize(); ++i) {
    unsigned char const c = static_cast<unsigned char>(first.packContents()[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return;
  }
  T second, third;
  if (!xml_again(first, second)) __builtin_trap();
  second.pack();
  size_t const size2 = static_cast<size_t>(second.packSize());
  second.packXML();
  size_t const xml2 = static_cast<size_t>(second.packSize());
  if (!xml_again(second, third)) __builtin_trap();
  third.packXML();
  if (static_cast<size_t>(third.packSize()) != xml2) __builtin_trap();
  third.pack();
  if (static_cast<size_t>(third.packSize()) != size2) __builtin_trap();
}

struct Row {
  char const* name;
  void (*fuzz)(char const* bytes, int n, int form);
};

#define HX_FUZZ_RECORD(C) {#C, &fuzz_one<C>},

Row const kRecords[] = {
    // core
    HX_FUZZ_RECORD(HxMacro)
    HX_FUZZ_RECORD(HxError)
    HX_FUZZ_RECORD(HxOldError)
    HX_FUZZ_RECORD(HxTime)
    HX_FUZZ_RECORD(HxAddress)
    HX_FUZZ_RECORD(HxMacAddress)
    HX_FUZZ_RECORD(HxHostname)
    HX_FUZZ_RECORD(HxHostnameList)
    HX_FUZZ_RECORD(HxMacAddressList)
    HX_FUZZ_RECORD(HxFile)
    HX_FUZZ_RECORD(HxFileList)
    HX_FUZZ_RECORD(HxStringList)
    HX_FUZZ_RECORD(HxStringHash)
    HX_FUZZ_RECORD(HxIntHash)
    // expr
    HX_FUZZ_RECORD(HxExpressionList)
    HX_FUZZ_RECORD(HxValue)
    HX_FUZZ_RECORD(HxLoadMonitor)
    HX_FUZZ_RECORD(HxScreenSaver)
    HX_FUZZ_RECORD(HxWatchDog)
    HX_FUZZ_RECORD(HxWeekCalendar)
    // config
    HX_FUZZ_RECORD(HxOption)
    HX_FUZZ_RECORD(HxOptionList)
    HX_FUZZ_RECORD(HxConfig)
    HX_FUZZ_RECORD(HxConfigHash)
    HX_FUZZ_RECORD(HxConfigList)
    HX_FUZZ_RECORD(HxEnv)
    HX_FUZZ_RECORD(HxPathMap)
    // model/job
    HX_FUZZ_RECORD(HxStatus)
    HX_FUZZ_RECORD(HxStatusTally)
    HX_FUZZ_RECORD(HxJobId)
    HX_FUZZ_RECORD(HxJobIdList)
    HX_FUZZ_RECORD(HxJobIdHash)
    HX_FUZZ_RECORD(HxWorkId)
    HX_FUZZ_RECORD(HxWorkIdList)
    HX_FUZZ_RECORD(HxCallbackId)
    HX_FUZZ_RECORD(HxCallbackIdList)
    HX_FUZZ_RECORD(HxVariableId)
    HX_FUZZ_RECORD(HxVariableIdList)
    HX_FUZZ_RECORD(HxReservation)
    HX_FUZZ_RECORD(HxReservationList)
    HX_FUZZ_RECORD(HxReservationHash)
    HX_FUZZ_RECORD(HxField)
    HX_FUZZ_RECORD(HxFieldList)
    HX_FUZZ_RECORD(HxFilter)
    HX_FUZZ_RECORD(HxFilterList)
    HX_FUZZ_RECORD(HxQuery)
    HX_FUZZ_RECORD(HxOrder)
    HX_FUZZ_RECORD(HxOperation)
    HX_FUZZ_RECORD(HxFault)
    HX_FUZZ_RECORD(HxFaultList)
    HX_FUZZ_RECORD(HxResult)
    HX_FUZZ_RECORD(HxEvent)
    HX_FUZZ_RECORD(HxEventList)
    HX_FUZZ_RECORD(HxCallback)
    HX_FUZZ_RECORD(HxCallbackList)
    HX_FUZZ_RECORD(HxPost)
    HX_FUZZ_RECORD(HxPostList)
    HX_FUZZ_RECORD(HxSubscription)
    HX_FUZZ_RECORD(HxSubscriptionList)
    HX_FUZZ_RECORD(HxVariable)
    HX_FUZZ_RECORD(HxVariableList)
    HX_FUZZ_RECORD(HxVariableHash)
    HX_FUZZ_RECORD(HxSubjob)
    HX_FUZZ_RECORD(HxSubjobList)
    HX_FUZZ_RECORD(HxWork)
    HX_FUZZ_RECORD(HxWorkList)
    HX_FUZZ_RECORD(HxWorkHash)
    HX_FUZZ_RECORD(HxJob)
    HX_FUZZ_RECORD(HxJobList)
    HX_FUZZ_RECORD(HxCommand)
    HX_FUZZ_RECORD(HxBumpCommand)
    HX_FUZZ_RECORD(HxModifyCommand)
    HX_FUZZ_RECORD(HxLog)
    HX_FUZZ_RECORD(HxLogList)
    HX_FUZZ_RECORD(HxHistory)
    HX_FUZZ_RECORD(HxHistoryList)
    HX_FUZZ_RECORD(HxJobStats)
    HX_FUZZ_RECORD(HxAssignment)
    HX_FUZZ_RECORD(HxAssignmentList)
    HX_FUZZ_RECORD(HxReport)
    HX_FUZZ_RECORD(HxRequest)
    HX_FUZZ_RECORD(HxRequestList)
    HX_FUZZ_RECORD(HxJobNode)
    HX_FUZZ_RECORD(HxJobNodeList)
    HX_FUZZ_RECORD(HxJobLink)
    HX_FUZZ_RECORD(HxJobLinkList)
    HX_FUZZ_RECORD(HxJobLabelHash)
    HX_FUZZ_RECORD(HxJobGraph)
    // model/farm
    HX_FUZZ_RECORD(HxProperty)
    HX_FUZZ_RECORD(HxPropertyList)
    HX_FUZZ_RECORD(HxPropertyHash)
    HX_FUZZ_RECORD(HxResource)
    HX_FUZZ_RECORD(HxResourceList)
    HX_FUZZ_RECORD(HxResourceHash)
    HX_FUZZ_RECORD(HxState)
    HX_FUZZ_RECORD(HxHostStats)
    HX_FUZZ_RECORD(HxHost)
    HX_FUZZ_RECORD(HxHostList)
    HX_FUZZ_RECORD(HxAdminOrder)
    HX_FUZZ_RECORD(HxAdminResult)
    HX_FUZZ_RECORD(HxAccess)
    HX_FUZZ_RECORD(HxAccessList)
    HX_FUZZ_RECORD(HxGroupAccess)
    HX_FUZZ_RECORD(HxGroupAccessList)
    HX_FUZZ_RECORD(HxPassword)
    HX_FUZZ_RECORD(HxPasswordList)
    HX_FUZZ_RECORD(HxDomain)
    HX_FUZZ_RECORD(HxPreference)
    HX_FUZZ_RECORD(HxDbField)
    HX_FUZZ_RECORD(HxDbRow)
    HX_FUZZ_RECORD(HxDbRows)
    HX_FUZZ_RECORD(HxDataTable)
    HX_FUZZ_RECORD(HxDataTableList)
    HX_FUZZ_RECORD(HxSupe)
    HX_FUZZ_RECORD(HxSupeList)
    HX_FUZZ_RECORD(HxDuty)
    HX_FUZZ_RECORD(HxDutyList)
    HX_FUZZ_RECORD(HxSync)
    // net
    HX_FUZZ_RECORD(HxIntro)
    HX_FUZZ_RECORD(HxMessage)
};

#undef HX_FUZZ_RECORD

constexpr size_t kRows = sizeof kRecords / sizeof kRecords[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 2 || size > (1u << 20)) return 0;
  // The first byte chooses the class; the low two bits of the second the
  // form, and its upper bits extend the choice once the table outgrows a byte.
  size_t const pick = (data[0] | (static_cast<size_t>(data[1] >> 2) << 8)) % kRows;
  int const form = data[1] & 3;
  kRecords[pick].fuzz(reinterpret_cast<char const*>(data) + 2, static_cast<int>(size - 2), form);
  return 0;
}
