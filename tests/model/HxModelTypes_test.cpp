#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

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
#include "model/job/JobTestUtil.h"

namespace {

template <class T>
std::unique_ptr<HxPack> make() {
  return std::make_unique<T>();
}

// Every record class of the job and farm models by its type number and XML
// tag: the list a message's content is made from.
struct Row {
  int number;
  char const* tag;
  std::unique_ptr<HxPack> (*make)();
};

#define HX_ROW(N, C, TAG) {N, TAG, &make<C>},

Row const kRecords[] = {
    HX_ROW(1, HxJob, "job")
    HX_ROW(2, HxStatus, "status")
    HX_ROW(4, HxSubjob, "subjob")
    HX_ROW(5, HxJobList, "job_list")
    HX_ROW(6, HxSubjobList, "subjob_list")
    HX_ROW(8, HxState, "state")
    HX_ROW(9, HxHost, "host")
    HX_ROW(10, HxResource, "resource")
    HX_ROW(11, HxResourceList, "resource_list")
    HX_ROW(12, HxHostList, "host_list")
    HX_ROW(14, HxWork, "work")
    HX_ROW(15, HxWorkList, "work_list")
    HX_ROW(16, HxEvent, "event")
    HX_ROW(17, HxEventList, "event_list")
    HX_ROW(18, HxJobIdList, "job_id_list")
    HX_ROW(19, HxJobId, "job_id")
    HX_ROW(20, HxFilter, "filter")
    HX_ROW(21, HxFilterList, "filter_list")
    HX_ROW(22, HxField, "field")
    HX_ROW(23, HxFieldList, "field_list")
    HX_ROW(24, HxQuery, "query")
    HX_ROW(25, HxAssignment, "assignment")
    HX_ROW(26, HxAssignmentList, "assignment_list")
    HX_ROW(27, HxReservation, "reservation")
    HX_ROW(28, HxReservationList, "reservation_list")
    HX_ROW(30, HxCommand, "command")
    HX_ROW(32, HxStatusTally, "status_tally")
    HX_ROW(34, HxHistory, "history")
    HX_ROW(35, HxHistoryList, "history_list")
    HX_ROW(36, HxLog, "log")
    HX_ROW(37, HxLogList, "log_list")
    HX_ROW(38, HxDataTable, "data_table")
    HX_ROW(39, HxDataTableList, "data_table_list")
    HX_ROW(42, HxJobStats, "job_stats")
    HX_ROW(43, HxReport, "report")
    HX_ROW(44, HxDuty, "duty")
    HX_ROW(45, HxDutyList, "duty_list")
    HX_ROW(46, HxCallback, "callback")
    HX_ROW(47, HxCallbackList, "callback_list")
    HX_ROW(48, HxModifyCommand, "modify_command")
    HX_ROW(59, HxWorkId, "work_id")
    HX_ROW(60, HxWorkIdList, "work_id_list")
    HX_ROW(62, HxDomain, "domain")
    HX_ROW(67, HxResourceHash, "resource_hash")
    HX_ROW(68, HxReservationHash, "reservation_hash")
    HX_ROW(69, HxBumpCommand, "bump_command")
    HX_ROW(70, HxWorkHash, "work_hash")
    HX_ROW(90, HxProperty, "property")
    HX_ROW(91, HxPropertyList, "property_list")
    HX_ROW(92, HxPropertyHash, "property_hash")
    HX_ROW(93, HxRequest, "request")
    HX_ROW(94, HxRequestList, "request_list")
    HX_ROW(95, HxAccess, "access")
    HX_ROW(96, HxAccessList, "access_list")
    HX_ROW(101, HxGroupAccess, "group_access")
    HX_ROW(102, HxGroupAccessList, "group_access_list")
    HX_ROW(111, HxJobLink, "job_link")
    HX_ROW(112, HxJobLinkList, "job_link_list")
    HX_ROW(113, HxJobGraph, "job_graph")
    HX_ROW(114, HxJobNode, "job_node")
    HX_ROW(115, HxJobNodeList, "job_node_list")
    HX_ROW(116, HxJobLabelHash, "116")
    HX_ROW(120, HxVariable, "variable")
    HX_ROW(121, HxVariableList, "variable_list")
    HX_ROW(122, HxVariableHash, "variable_hash")
    HX_ROW(130, HxVariableId, "variable_id")
    HX_ROW(131, HxVariableIdList, "variable_id_list")
    HX_ROW(132, HxOperation, "operation_id_list")
    HX_ROW(133, HxPost, "post")
    HX_ROW(134, HxPostList, "post_list")
    HX_ROW(152, HxSubscription, "subscription")
    HX_ROW(153, HxSubscriptionList, "subscription_list")
    HX_ROW(169, HxOrder, "order")
    HX_ROW(171, HxSync, "sync")
    HX_ROW(172, HxSupe, "supe")
    HX_ROW(173, HxSupeList, "supe_list")
    HX_ROW(174, HxJobIdHash, "job_id_hash")
    HX_ROW(181, HxHostStats, "host_stats")
    HX_ROW(182, HxPassword, "password")
    HX_ROW(183, HxPasswordList, "password_list")
    HX_ROW(186, HxFaultList, "fault_list")
    HX_ROW(187, HxFault, "fault")
    HX_ROW(188, HxResult, "result")
    HX_ROW(189, HxAdminOrder, "admin_order")
    HX_ROW(190, HxAdminResult, "admin_result")
    HX_ROW(197, HxCallbackId, "callback_id")
    HX_ROW(198, HxCallbackIdList, "callback_id_list")
    HX_ROW(201, HxDbField, "db_field")
    HX_ROW(202, HxDbRow, "db_row")
    HX_ROW(203, HxDbRows, "db_rows")
    HX_ROW(204, HxPreference, "preference")
};

#undef HX_ROW

TEST(HxModelTypes, EveryClassByItsNumber) {
  std::set<int> numbers;
  std::set<std::string> tags;
  for (auto const& r : kRecords) {
    SCOPED_TRACE(r.tag);
    std::unique_ptr<HxPack> p = r.make();
    EXPECT_EQ(p->type(), r.number);
    EXPECT_EQ(S(p->typeXML()), r.tag);
    EXPECT_TRUE(numbers.insert(r.number).second) << "number used twice";
    EXPECT_TRUE(tags.insert(r.tag).second) << "tag used twice";
    // A new record reads back from both of its forms as it was written.
    p->pack();
    std::string const bin(p->packContents(), static_cast<size_t>(p->packSize()));
    std::unique_ptr<HxPack> from_bin = r.make();
    EXPECT_EQ(unpack(*from_bin, bin), bin.size() > 4 ? 0 : 2);
    from_bin->pack();
    EXPECT_EQ(std::string(from_bin->packContents(), static_cast<size_t>(from_bin->packSize())), bin);
    std::unique_ptr<HxPack> from_xml = r.make();
    unpack_xml(*from_xml, xml_of(*p));
    from_xml->pack();
    EXPECT_EQ(std::string(from_xml->packContents(), static_cast<size_t>(from_xml->packSize())), bin);
  }
}

}  // namespace
