#pragma once

// The message tags the client API sends, the reply tags it tests, the error
// numbers the request road writes and the protocol versions it compares.

// Requests.
constexpr int kHxReqJobInfo = 100;  // also the job process's assignment request to its worker
constexpr int kHxReqHostInfo = 101;  // also a worker's own host record
constexpr int kHxReqHistory = 103;
constexpr int kHxReqStdout = 104;
constexpr int kHxReqStderr = 105;
constexpr int kHxReqQueueSummary = 106;
constexpr int kHxReqTime = 107;
constexpr int kHxReqAssignmentInfo = 108;
constexpr int kHxReqFarmInfo = 109;
constexpr int kHxReqStats = 110;
constexpr int kHxReqConfig = 111;
constexpr int kHxReqDutyInfo = 112;
constexpr int kHxReqQueueTally = 115;
constexpr int kHxReqIsAdmin = 117;
constexpr int kHxReqBannedWorkers = 118;
constexpr int kHxReqJobTagValues = 119;
constexpr int kHxReqSubmit = 200;
constexpr int kHxReqSubmitFlag = 32;  // added to kHxReqSubmit by the third argument of hxsubmit
constexpr int kHxReqRemove = 201;
constexpr int kHxReqReportJob = 206;
constexpr int kHxReqKill = 207;
constexpr int kHxReqInterrupt = 208;
constexpr int kHxReqPreempt = 209;
constexpr int kHxReqBlock = 210;
constexpr int kHxReqModify = 211;
constexpr int kHxReqUnblock = 215;
constexpr int kHxReqSuspend = 216;
constexpr int kHxReqResume = 217;
constexpr int kHxReqRequeue = 219;
constexpr int kHxReqRetry = 220;
constexpr int kHxReqBump = 223;
constexpr int kHxReqMigrate = 224;
constexpr int kHxReqShove = 225;
constexpr int kHxReqRetire = 227;
constexpr int kHxReqReset = 231;
constexpr int kHxActionTop = 290;     // command actions sent as kHxReqBump
constexpr int kHxActionBottom = 291;
constexpr int kHxReqPing = 400;
constexpr int kHxReqDiscover = 401;  // sent by the client itself while locating a supervisor
constexpr int kHxReqRequestWork = 600;
constexpr int kHxReqReportWork = 602;
constexpr int kHxReqRetryWork = 604;
constexpr int kHxReqKillWork = 605;
constexpr int kHxReqBlockWork = 608;
constexpr int kHxReqUnblockWork = 610;
constexpr int kHxReqRequeueWork = 613;
constexpr int kHxReqCompleteWork = 614;
constexpr int kHxReqRetireWork = 615;
constexpr int kHxReqSubmitCallback = 801;
constexpr int kHxReqRemoveCallback = 802;
constexpr int kHxReqTrigger = 803;
constexpr int kHxReqGetVariable = 900;
constexpr int kHxReqSetVariable = 901;
constexpr int kHxReqDeleteVariable = 902;
constexpr int kHxReqAdminPerm = 1000;
constexpr int kHxReqWorkerDelete = 1001;
constexpr int kHxReqJobOrder = 1002;
constexpr int kHxReqHostOrder = 1003;
constexpr int kHxReqSendWorkerConfig = 1004;
constexpr int kHxReqUsers = 1008;
constexpr int kHxReqWorkerUpdateVars = 1010;
constexpr int kHxReqUpdatePassword = 1011;
constexpr int kHxReqUpdateResource = 1014;
constexpr int kHxReqWorkerQueue = 1019;
constexpr int kHxReqResource = 1020;
constexpr int kHxReqSupervisorMode = 1022;
constexpr int kHxReqAdminCommand = 1025;
constexpr int kHxReqWorkerLock = 1026;
constexpr int kHxReqWorkerReboot = 1030;
constexpr int kHxReqWorkerShutdown = 1031;
constexpr int kHxReqCheckPassword = 1032;
constexpr int kHxReqWorkerUpdateProperties = 1033;
constexpr int kHxReqWorkerUpdateResources = 1034;
constexpr int kHxReqSupervisorInfo = 1035;
constexpr int kHxReqWorkerUndelete = 1038;
constexpr int kHxReqAdminOrder = 1040;
constexpr int kHxReqDeleteWorkerProperties = 1051;
constexpr int kHxReqDeleteWorkerResources = 1052;
constexpr int kHxReqSubmitGraph = 1100;  // also a post list, and a subscription of hxwaitfor
constexpr int kHxReqUnsubscribe = 1102;
constexpr int kHxReqGetFiles = 1401;
constexpr int kHxReqListFiles = 1403;
constexpr int kHxReqGetPreferences = 1501;
constexpr int kHxReqSetPreference = 1502;
constexpr int kHxReqDeletePreference = 1503;
constexpr int kHxReqGetPipelineVariables = 1504;

// Reply tags the request functions test (0 and 5 end in the client; 7, a
// redirect, is followed while locating the supervisor).
constexpr int kHxReplyConfirmed = 1;
constexpr int kHxReplyRefused = 3;
constexpr int kHxReplyError = 4;
constexpr int kHxReplyShutdown = 203;  // a worker's answer to a job report

// Numbers the request road writes into the API error.
constexpr int kHxErrUnspecified = 2051;   // "unspecifed error": an error reply without a known record
constexpr int kHxErrBlank = 2052;           // "data returned blank": a reply without content
constexpr int kHxErrInvalidContent = 2053;  // a reply of another class; its content type as macro ID
constexpr int kHxErrAccessDenied = 2054;  // "access denied": a refusal
constexpr int kHxErrOldError = 100000;    // the text of an old-style error, as macro ERROR

// Content types the road tells apart.
constexpr int kHxTypeOldError = 52;
constexpr int kHxTypeIntro = 170;

// Protocol versions: replies from peers before this one answer commands with
// bare identifier lists instead of results.
constexpr int kHxVersionResults = 530;

// Worker requests keep the client's own conversation time-out.
constexpr int kHxWorkerTimeoutMs = 30000;

// Actions of the permission orders (request kHxReqAdminPerm).
constexpr int kHxAdminActionManageUser = 3;
constexpr int kHxAdminActionManageGroup = 4;

// Records the administration replies are read as.
constexpr int kHxTypeHostnameList = 64;
constexpr int kHxTypeResult = 188;
constexpr int kHxTypeAdminResult = 190;
constexpr int kHxTypeValue = 200;
