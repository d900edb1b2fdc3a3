// Replacing a file's content so that a reader sees the old content or the new, never half, and
// a failed write leaves the old file as it was: the new content goes to a temporary file of an
// unpredictable name in the same folder, is synced, and is renamed over the file. Qt-free.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace bv::sys {

struct AtomicWriteResult {
  bool ok = false;
  int error = 0;        // errno (POSIX) or GetLastError (Windows) of the step that failed
  std::string message;  // that step and the system's text, for a log or a box
};

// Writes `bytes` as the whole new content of `target`. On POSIX the new file gets `mode` (the
// temporary file is created with it, so the content is never readable more widely) and the
// folder is synced after the rename; a symbolic link at `target` is replaced, not followed. On
// Windows `mode` is ignored and the file takes its folder's permissions.
AtomicWriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                      unsigned mode = 0600);

#ifndef _WIN32
// The same, for a file named `name` in the folder open as `folderFd`; the temporary file is
// created there with O_EXCL and O_NOFOLLOW, so nothing another user planted in the folder is
// written through.
AtomicWriteResult writeFileAtomicallyAt(int folderFd, const std::string& name, std::string_view bytes,
                                        unsigned mode = 0600);
#endif

}  // namespace bv::sys
