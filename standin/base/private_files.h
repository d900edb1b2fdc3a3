// Files and folders only their owner may read. The stand-in's data folder holds its databases,
// its backups and the sa password file, and `sa` can make the stand-in write files anywhere, so
// every folder it makes is 0700 and every file it writes 0600. A file that matters is never
// rewritten in place: its new content goes to a temporary file beside it, which is synced and
// then renamed over it, so a failure at any point leaves the old file as it was.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "standin/base/unique_fd.h"

namespace standin::base {

inline constexpr mode_t kPrivateFileMode = 0600;
inline constexpr mode_t kPrivateFolderMode = 0700;

// Creates the folder and any missing parents as 0700, and makes the folder itself 0700.
// Throws std::filesystem::filesystem_error.
void makePrivateFolder(const std::filesystem::path& dir);
// Makes `dir` and every folder below it 0700 and every file in them 0600, as an earlier
// version may have left them open; symbolic links are left alone. Throws like the above.
void makeTreePrivate(const std::filesystem::path& dir);

// Creates `file` empty and 0600 unless it exists; 0 or the errno of the failure.
int createPrivateFile(const std::filesystem::path& file);
// Opens `file` for appending, creating it 0600; an existing regular file is made 0600.
// An invalid descriptor on failure, with errno set.
UniqueFd openPrivateForAppend(const std::filesystem::path& file);

// A whole file's bytes; nullopt (and the errno in `error`) when it cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& file, int* error = nullptr);

// The path a file is really written at: symbolic links (of the file and its folders) followed,
// so that replacing a linked file replaces what the link points to, not the link.
std::filesystem::path resolvedTarget(const std::filesystem::path& target);

// A file's new content, written to a temporary file (0600) in the target's folder and put in
// the target's place only by commit(): synced, renamed over the target, the folder synced. The
// temporary file is NAME.partial-XXXXXX, NAME cut short when the whole would pass the file
// system's limit on names.
// Until then the target is untouched; destroyed uncommitted, the temporary file is removed.
class ReplacementFile {
 public:
  enum class Stage { Open, Write, Replace };

  explicit ReplacementFile(const std::filesystem::path& target);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  bool write(std::string_view bytes);  // false on failure: see error()
  bool commit();                       // false on failure: see error(); the target is then untouched

  int error() const { return error_; }  // errno of the first failure, 0 while all is well
  Stage failedAt() const { return stage_; }
  const std::filesystem::path& target() const { return target_; }
  const std::filesystem::path& temporary() const { return temporary_; }

 private:
  bool fail(Stage stage, int error);

  std::filesystem::path target_;
  std::filesystem::path temporary_;
  UniqueFd fd_;
  int error_ = 0;
  Stage stage_ = Stage::Open;
  bool committed_ = false;
};

// Replaces a file's whole content through a ReplacementFile; 0 or the errno of the failure.
int replaceFileContent(const std::filesystem::path& target, std::string_view bytes);

}  // namespace standin::base
