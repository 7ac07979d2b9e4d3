// The decoding tables of every record class of the library, built in this
// one file (see core/pack/HxRecord.h). A new record class is added to the
// list below.

#include "net/HxRecordTables.h"

#include "config/HxConfig.h"
#include "config/HxEnv.h"
#include "config/HxOption.h"
#include "config/HxPathMap.h"
#include "core/HxAddress.h"
#include "core/HxError.h"
#include "core/HxFile.h"
#include "core/HxTime.h"
#include "core/pack/HxRecord.h"
#include "expr/HxValue.h"
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
#include "model/job/HxAssignment.h"
#include "model/job/HxCallback.h"
#include "model/job/HxCallbackId.h"
#include "model/job/HxCommand.h"
#include "model/job/HxEvent.h"
#include "model/job/HxHistory.h"
#include "model/job/HxJob.h"
#include "model/job/HxJobGraph.h"
#include "model/job/HxJobId.h"
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
#include "net/HxIntro.h"
#include "net/HxMessage.h"

namespace {

template <class... Records>
void build() {
  (Records::buildTables(), ...);
}

}  // namespace

void hx_build_record_tables() {
  // clang-format off
  build<HxConfig, HxEnv, HxOption, HxPathMap,
        HxAddress, HxMacAddress, HxHostname, HxMacro, HxError, HxOldError, HxFile, HxTime,
        HxValue,
        HxGroupAccess, HxAccess, HxPassword, HxAdminOrder, HxAdminResult, HxDomain, HxDuty, HxHost,
        HxPreference, HxDbField, HxDataTable, HxProperty, HxResource, HxState, HxHostStats, HxSupe, HxSync,
        HxJobStats, HxAssignment, HxReport, HxRequest, HxCallback, HxCallbackId,
        HxCommand, HxBumpCommand, HxModifyCommand, HxEvent, HxHistory, HxJob,
        HxJobNode, HxJobLink, HxJobGraph, HxJobId, HxLog, HxPost, HxSubscription,
        HxField, HxFilter, HxQuery, HxOrder, HxOperation, HxReservation, HxFault, HxResult,
        HxStatus, HxStatusTally, HxSubjob, HxVariable, HxVariableId, HxWork, HxWorkId,
        HxIntro, HxMessage>();
  // clang-format on
}
