// The encoding of the texts that a scheduled task hands to Brackenrun, and the parameter string
// those texts travel in. Shared by the main window, which writes the string, and the runner,
// which reads it back. Qt-free; texts are UTF-8.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bv::tasks {

// A text that cannot be encoded, or an argument that cannot be read back. The message (in
// Japanese, for the user) names the position of the fault but never repeats the text, so that
// it can be shown or logged even when the text is a password.
class TaskArgumentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The bytes of the text in code page 932 up to its first zero character, each written as two
// upper-case hexadecimal digits, and the whole then reversed character by character:
// "abc" -> "616263" -> "362616". An empty text gives an empty argument. The result holds only
// 0-9 and A-F. Throws TaskArgumentError for text that is not UTF-8 or holds a character that
// code page 932 cannot carry unchanged (such as "é", or "¥", which would come back as "\"), so
// that decodeTaskArgument always gives back exactly the text that was encoded.
std::string EncodeTaskArgument(std::string_view text);

// The inverse: the argument reversed, read as pairs of upper-case hexadecimal digits, the bytes
// taken as code page 932. Throws TaskArgumentError for an odd number of digits, a character
// other than 0-9 and A-F, a zero byte (the encoder stops before one), and bytes that are no
// text of the code page: an invalid lead or trail byte, a lead byte without its trail byte, a
// code with no character.
std::string decodeTaskArgument(std::string_view argument);

// The runner's parameter string: its arguments each followed by one blank; what they mean is the
// backup's own codec (core/scheduling/task_parameters.h), which writes and reads the fields in
// these places:
//   1 authentication, 2 login name, 3 password, 4 server, 5 database, 6 backup file, 7 verify,
//   8 the backup files kept, 9 the test restore, 10 the kind of backup, 11 the checksum.
inline constexpr std::size_t kTaskArgumentCount = 7;
inline constexpr std::size_t kMaxTaskArgumentCount = 11;
enum TaskField : std::size_t {
  kAuthenticationField,
  kLoginNameField,
  kPasswordField,
  kServerField,
  kDatabaseField,
  kBackupFileField,
  kVerifyField,
  kGenerationsField,
  kTestRestoreField,
  kBackupKindField,
  kChecksumField,
};

// The arguments joined as a parameter string: each followed by one blank.
std::string joinTaskParameters(const std::vector<std::string>& arguments);

// The arguments of a parameter string, split at every single blank, so that two blanks in a
// row leave an empty argument between them. The one blank that ends the string ends its last
// argument; a string without it is read the same. An empty string holds no argument.
std::vector<std::string> splitTaskParameters(std::string_view parameters);

// The error for argument `field`, naming it by number and role ("4 番目の引数（データベースサーバ）:
// " + reason).
TaskArgumentError refusedArgument(std::size_t field, const std::string& reason);
// The argument in `field` decoded; a refusal names the field.
std::string decodeArgumentAt(const std::vector<std::string>& arguments, std::size_t field);
// Refuses a count of arguments outside 7 to 11.
void checkArgumentCount(const std::vector<std::string>& arguments);

// What a report of a run names: the server, the database and the backup file, decoded from their
// fields alone (the login fields, the password among them, are never decoded here). Throws
// TaskArgumentError as the runner would refuse them.
struct TaskTarget {
  std::string server;
  std::string database;
  std::string backupFile;
};
TaskTarget readTaskTarget(const std::vector<std::string>& arguments);

}  // namespace bv::tasks
