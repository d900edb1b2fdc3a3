// Proving a task's run-as account on POSIX, as the scheduler proves it when a task is saved: the
// account must exist, and PAM, with the program's own service "brackenvale", must accept the
// password (authentication) and the account (account management). The password is used for the
// proof only and wiped afterwards; it is never written anywhere. Qt-free.
#pragma once

#include <filesystem>
#include <string>

#include "core/tasks/task_codes.h"

namespace bv::tasks {

inline constexpr const char* kPamService = "brackenvale";

struct AccountProofOptions {
  // A folder of PAM service files to read instead of the system's (tests); empty for the
  // system's configuration.
  std::filesystem::path pamConfigFolder;
};

// kOk when the account is proved. Otherwise:
//   another user's account named by a process that is not root -> kAccessDenied (before PAM:
//     only root may start a program as another user);
//   no such account -> kSchedAccountNameNotFound;
//   PAM cannot be started for the service -> kSchedNoSecurityServices;
//   the password refused -> kLogonFailure;
//   the account refused -> kAccountRestriction, or kPasswordMustChange when PAM asks for a new
//     password first.
// The password is wiped before the function returns.
HResult proveAccount(const std::string& user, std::string password, const AccountProofOptions& options);

// How PAM's answers read as the scheduler's codes (exposed for tests of every branch).
HResult authenticationResult(int pamStatus);
HResult accountResult(int pamStatus);

}  // namespace bv::tasks
