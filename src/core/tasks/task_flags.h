// The task's own flags and priority classes ([MS-TSCH] 2.3.7, 2.4.1). mstask.h defines the same
// values as TASK_FLAG_* macros; these names can stand beside them.
#pragma once

#include <cstdint>

namespace bv::tasks {

inline constexpr std::uint32_t kTaskFlagInteractive = 0x0001;
inline constexpr std::uint32_t kTaskFlagDeleteWhenDone = 0x0002;
inline constexpr std::uint32_t kTaskFlagDisabled = 0x0004;
inline constexpr std::uint32_t kTaskFlagStartOnlyIfIdle = 0x0010;
inline constexpr std::uint32_t kTaskFlagKillOnIdleEnd = 0x0020;
inline constexpr std::uint32_t kTaskFlagDontStartIfOnBatteries = 0x0040;
inline constexpr std::uint32_t kTaskFlagKillIfGoingOnBatteries = 0x0080;
inline constexpr std::uint32_t kTaskFlagRunOnlyIfDocked = 0x0100;
inline constexpr std::uint32_t kTaskFlagHidden = 0x0200;
inline constexpr std::uint32_t kTaskFlagRunIfConnectedToInternet = 0x0400;
inline constexpr std::uint32_t kTaskFlagRestartOnIdleResume = 0x0800;
inline constexpr std::uint32_t kTaskFlagSystemRequired = 0x1000;
inline constexpr std::uint32_t kTaskFlagRunOnlyIfLoggedOn = 0x2000;
inline constexpr std::uint32_t kTaskFlagApplicationName = 0x01000000;
// The bits SetFlags/GetFlags pass through: SetFlags(0xFFFFFFFF) reads back 0x7FFF.
inline constexpr std::uint32_t kTaskFlagsApiMask = 0x7FFF;

// Process priority classes; exactly one is stored.
inline constexpr std::uint32_t kPriorityNormal = 0x00000020;
inline constexpr std::uint32_t kPriorityIdle = 0x00000040;
inline constexpr std::uint32_t kPriorityHigh = 0x00000080;
inline constexpr std::uint32_t kPriorityRealtime = 0x00000100;

}  // namespace bv::tasks
