#include "core/tasks/account_proof_posix.h"

#include <pwd.h>
#include <security/pam_appl.h>
#include <unistd.h>

#include <string.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace bv::tasks {
namespace {

// What the conversation answers with, read by PAM while the proof runs.
struct Credentials {
  const std::string* user;
  const std::string* password;
};

char* copyForPam(const std::string& text) {
  // PAM frees each answer with free(), so it is made with malloc().
  auto* out = static_cast<char*>(std::malloc(text.size() + 1));
  if (out != nullptr) std::memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

int converse(int count, const pam_message** messages, pam_response** responses, void* data) {
  if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
  const auto* credentials = static_cast<const Credentials*>(data);
  auto* answers =
      static_cast<pam_response*>(std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
  if (answers == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    const std::string* answer = nullptr;
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_OFF:
        answer = credentials->password;
        break;
      case PAM_PROMPT_ECHO_ON:
        answer = credentials->user;
        break;
      default:  // informational texts and errors are not shown: nobody reads them here
        break;
    }
    if (answer == nullptr) continue;
    answers[i].resp = copyForPam(*answer);
    if (answers[i].resp == nullptr) {
      for (int k = 0; k < i; ++k) {
        if (answers[k].resp != nullptr) {
          explicit_bzero(answers[k].resp, std::strlen(answers[k].resp));
          std::free(answers[k].resp);
        }
      }
      std::free(answers);
      return PAM_BUF_ERR;
    }
  }
  *responses = answers;
  return PAM_SUCCESS;
}

// A PAM transaction ended with its last status on every path.
class PamSession {
 public:
  PamSession(const std::string& user, const pam_conv& conversation, const std::filesystem::path& folder) {
    status_ = folder.empty()
                  ? ::pam_start(kPamService, user.c_str(), &conversation, &handle_)
                  : ::pam_start_confdir(kPamService, user.c_str(), &conversation, folder.c_str(), &handle_);
  }
  ~PamSession() {
    if (handle_ != nullptr) ::pam_end(handle_, status_);
  }
  PamSession(const PamSession&) = delete;
  PamSession& operator=(const PamSession&) = delete;

  bool started() const noexcept { return status_ == PAM_SUCCESS && handle_ != nullptr; }
  int authenticate() { return status_ = ::pam_authenticate(handle_, PAM_SILENT); }
  int manageAccount() { return status_ = ::pam_acct_mgmt(handle_, PAM_SILENT); }

 private:
  pam_handle_t* handle_ = nullptr;
  int status_ = PAM_SYSTEM_ERR;
};

std::string currentUserName() {
  const passwd* entry = ::getpwuid(::geteuid());
  return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : std::string();
}

bool accountExists(const std::string& user) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  return ::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr;
}

}  // namespace

HResult authenticationResult(int pamStatus) {
  switch (pamStatus) {
    case PAM_SUCCESS:
      return kOk;
    case PAM_USER_UNKNOWN:
      return kSchedAccountNameNotFound;
    default:
      return kLogonFailure;
  }
}

HResult accountResult(int pamStatus) {
  switch (pamStatus) {
    case PAM_SUCCESS:
      return kOk;
    case PAM_USER_UNKNOWN:
      return kSchedAccountNameNotFound;
    case PAM_NEW_AUTHTOK_REQD:
      return kPasswordMustChange;
    default:
      return kAccountRestriction;
  }
}

HResult proveAccount(const std::string& user, std::string password, const AccountProofOptions& options) {
  struct Wipe {
    std::string& text;
    ~Wipe() { explicit_bzero(text.data(), text.size()); }
  } wipe{password};

  if (::geteuid() != 0 && user != currentUserName()) return kAccessDenied;
  if (user.empty() || !accountExists(user)) return kSchedAccountNameNotFound;

  const Credentials credentials{&user, &password};
  const pam_conv conversation{&converse, const_cast<Credentials*>(&credentials)};
  PamSession session(user, conversation, options.pamConfigFolder);
  if (!session.started()) return kSchedNoSecurityServices;
  if (const HResult result = authenticationResult(session.authenticate()); result != kOk) return result;
  return accountResult(session.manageAccount());
}

}  // namespace bv::tasks
