// Reading a settings file that holds a secret (the mail settings; later the copy destinations
// and the registered servers). On POSIX such a file is used only when it is a regular file, not a
// link, owned by the effective user of the process reading it, and neither readable nor writable
// by group or others (OpenSSH's rule for key files): a file someone else could read, replace or
// point elsewhere must not decide where a report goes. It is opened once, without following a
// link, and checked through that descriptor, so nothing can be swapped in between the check and
// the read. On Windows the file takes its folder's permissions and is read as it is. Qt-free.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace bv::sys {

struct SecretFile {
  enum class State {
    Missing,     // no such file
    Read,        // `text` holds the whole file
    Refused,     // the file may not be trusted: `reason`
    Unreadable,  // it could not be read (or is larger than allowed): `reason`
  };
  State state = State::Missing;
  std::string text;    // Read only; the caller wipes it once used
  // Japanese: for Refused, the file, why and how to mend it ("「chmod 600 '...'」を実行して...");
  // for Unreadable, the system's reason.
  std::string reason;
};

SecretFile readSecretFile(const std::filesystem::path& file, std::size_t maxBytes);

}  // namespace bv::sys
