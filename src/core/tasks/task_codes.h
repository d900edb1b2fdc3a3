// The result codes of the task scheduler, as plain constants. Windows' mstask.h and winerror.h
// define the same values as macros (SCHED_S_TASK_READY, E_INVALIDARG, ...), so the names here
// differ from the SDK's and this header can be included beside them.
#pragma once

#include <cstdint>

namespace bv::tasks {

using HResult = std::uint32_t;

inline constexpr HResult kOk = 0x00000000;

// Informational success codes of the scheduler.
inline constexpr HResult kSchedTaskReady = 0x00041300;
inline constexpr HResult kSchedTaskRunning = 0x00041301;
inline constexpr HResult kSchedTaskDisabled = 0x00041302;
inline constexpr HResult kSchedTaskHasNotRun = 0x00041303;
inline constexpr HResult kSchedTaskNoMoreRuns = 0x00041304;
inline constexpr HResult kSchedTaskNotScheduled = 0x00041305;
inline constexpr HResult kSchedTaskTerminated = 0x00041306;
inline constexpr HResult kSchedTaskNoValidTriggers = 0x00041307;
inline constexpr HResult kSchedEventTrigger = 0x00041308;

// Failure codes of the scheduler.
inline constexpr HResult kSchedTriggerNotFound = 0x80041309;
inline constexpr HResult kSchedTaskNotReady = 0x8004130A;
inline constexpr HResult kSchedTaskNotRunning = 0x8004130B;
inline constexpr HResult kSchedServiceNotInstalled = 0x8004130C;
inline constexpr HResult kSchedCannotOpenTask = 0x8004130D;
inline constexpr HResult kSchedInvalidTask = 0x8004130E;
inline constexpr HResult kSchedAccountInformationNotSet = 0x8004130F;
inline constexpr HResult kSchedAccountNameNotFound = 0x80041310;
inline constexpr HResult kSchedAccountDbaseCorrupt = 0x80041311;
inline constexpr HResult kSchedNoSecurityServices = 0x80041312;
inline constexpr HResult kSchedUnknownObjectVersion = 0x80041313;
inline constexpr HResult kSchedUnsupportedAccountOption = 0x80041314;
inline constexpr HResult kSchedServiceNotRunning = 0x80041315;

// General codes the scheduler answers with.
inline constexpr HResult kInvalidArgument = 0x80070057;      // E_INVALIDARG
inline constexpr HResult kAccessDenied = 0x80070005;         // E_ACCESSDENIED
inline constexpr HResult kNoInterface = 0x80004002;          // E_NOINTERFACE
inline constexpr HResult kUnspecifiedFailure = 0x80004005;   // E_FAIL
inline constexpr HResult kOutOfMemory = 0x8007000E;          // E_OUTOFMEMORY
inline constexpr HResult kFileNotFound = 0x80070002;         // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
inline constexpr HResult kNotFileBasedStorage = 0x80030107;  // STG_E_NOTFILEBASEDSTORAGE
inline constexpr HResult kLogonFailure = 0x8007052E;         // HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE)
inline constexpr HResult kAccountRestriction = 0x8007052F;   // HRESULT_FROM_WIN32(ERROR_ACCOUNT_RESTRICTION)
inline constexpr HResult kPasswordMustChange = 0x80070773;   // HRESULT_FROM_WIN32(ERROR_PASSWORD_MUST_CHANGE)

// The program's own codes (the customer bit set, so they never meet a system's): the crontab
// could not be read to its end, so the executor's entry was not changed.
inline constexpr HResult kCrontabTooLarge = 0xA0041001;
// The program's or the store's path holds what the crontab line or the autostart entry cannot
// (a line break or another control character, a backslash just before a "%"): nothing written.
inline constexpr HResult kCrontabPathRefused = 0xA0041002;

// The severity bit, as FAILED() tests it; the informational codes above are successes.
constexpr bool isFailure(HResult code) { return (code & 0x80000000u) != 0; }

}  // namespace bv::tasks
