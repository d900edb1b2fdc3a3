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

// One scheduled backup, as a task carries it to the runner.
struct TaskBackup {
  bool useSqlAuth = false;
  std::string userName;  // SQL Server authentication only
  std::string password;  // SQL Server authentication only
  std::string server;
  std::string database;
  std::string backupFile;  // as typed: the server resolves %date% each time the backup runs
  bool verify = false;
  int generations = 0;       // backup files kept; 0 keeps all
  bool testRestore = false;  // prove the backup by a test restore
};

// The seven arguments every task carries; an eighth (the generations kept) and a ninth (the test
// restore) are written only when they say something.
inline constexpr std::size_t kTaskArgumentCount = 7;
inline constexpr std::size_t kMaxTaskArgumentCount = 9;

// The parameter string of a task, seven arguments each followed by one blank:
//   1 authentication, "1" Windows or "2" SQL Server
//   2 login name, encoded ("0" under Windows authentication)
//   3 password, encoded ("0" under Windows authentication)
//   4 server, 5 database, 6 backup file, each encoded
//   7 verify, "1" or "0"
//   8 the backup files kept, plain decimal: written only when not 0 (keep all), or as "0" when a
//     ninth follows
//   9 the test restore, "1": written only when asked for
// With neither, the string is exactly the seven arguments of earlier versions.
// Texts are taken as they stand; under Windows authentication the login fields are not read.
// Throws TaskArgumentError for a text that cannot be encoded.
std::string buildTaskParameters(const TaskBackup& backup);

// The arguments of a parameter string, split at every single blank, so that two blanks in a
// row leave an empty argument between them. The one blank that ends the string ends its last
// argument; a string without it is read the same. An empty string holds no argument.
std::vector<std::string> splitTaskParameters(std::string_view parameters);

// The arguments read back: seven, eight or nine (a shorter string keeps every file and proves
// nothing). Throws TaskArgumentError, naming the argument by number and role, for a wrong count,
// generations other than 0 or 2 to 365 in plain decimal, a test restore other than "1" and "0", an authentication code other than "1" and "2", login fields other
// than "0" under Windows authentication, an argument that does not decode, an empty server,
// database, backup file or (under SQL Server authentication) login name, and a verify flag other
// than "1" and "0".
TaskBackup readTaskParameters(const std::vector<std::string>& arguments);

}  // namespace bv::tasks
