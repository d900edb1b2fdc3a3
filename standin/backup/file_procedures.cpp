#include "standin/backup/file_procedures.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "standin/backup/backup_file.h"
#include "standin/base/text.h"
#include "standin/sql/errors.h"

namespace standin::backup {

using server::Context;
using server::ProcArg;
using server::Server;

namespace fs = std::filesystem;
using sql::Column;
using sql::isNull;
using sql::ResultSet;
using sql::Row;
using sql::SqlError;
using sql::SqlType;
using sql::StatementDone;

namespace {

std::optional<std::string> textArgument(const std::vector<ProcArg>& args, std::size_t i) {
  if (i >= args.size() || args[i].isDefault || isNull(args[i].value.value)) return std::nullopt;
  return std::get<std::string>(sql::convert(args[i].value, SqlType::nvarchar(-1), -1, 1).value);
}

std::optional<std::int64_t> integerArgument(const std::vector<ProcArg>& args, std::size_t i) {
  if (i >= args.size() || args[i].isDefault || isNull(args[i].value.value)) return std::nullopt;
  return std::get<std::int64_t>(sql::convert(args[i].value, SqlType::bigint(), -1, 1).value);
}

// A folder or file as the server would open it. A relative name would be the server's own
// working folder, never where a client's files are: it names nothing here, and neither does a
// Windows path.
std::optional<fs::path> serverPath(const std::string& text) {
  if (text.empty() || text.front() != '/') return std::nullopt;
  return fs::path(text);
}

struct Entry {
  std::string name;
  bool folder = false;
};

// A folder's entries in the order the listing gives them: by name, ignoring case.
std::vector<Entry> entriesOf(const fs::path& folder) {
  std::vector<Entry> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    const bool isLink = it->is_symlink(typeError);
    out.push_back(Entry{it->path().filename().string(), !isLink && it->is_directory(typeError)});
  }
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
    const int c = base::compareIgnoreCase(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
  return out;
}

// Depth first: each folder, then what it holds, down to `levels` (0: every level).
void listFolder(const fs::path& folder, int depth, std::int64_t levels, bool files, ResultSet& rows) {
  for (const auto& e : entriesOf(folder)) {
    if (!e.folder && !files) continue;
    Row row{e.name, std::int64_t{depth}};
    if (files) row.push_back(std::int64_t{e.folder ? 0 : 1});
    rows.rows.push_back(std::move(row));
    if (e.folder && (levels == 0 || depth < levels))
      listFolder(folder / e.name, depth + 1, levels, files, rows);
  }
}

// master..xp_dirtree folder [, depth [, file]]: the folder's subfolders (and files, with `file`
// not 0) to `depth` levels, 0 for all. A folder that does not exist gives no rows, no error.
}  // namespace

int xpDirtree(Context& c, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>&) {
  const auto folderText = textArgument(args, 0);
  const std::int64_t levels = std::max<std::int64_t>(0, integerArgument(args, 1).value_or(0));
  const bool files = integerArgument(args, 2).value_or(0) != 0;
  ResultSet rows;
  rows.columns = {Column{"subdirectory", SqlType::nvarchar(512), true},
                  Column{"depth", SqlType::integer(), true}};
  if (files) rows.columns.push_back(Column{"file", SqlType::integer(), true});
  const auto folder = folderText ? serverPath(*folderText) : std::nullopt;
  std::error_code ec;
  if (folder && fs::is_directory(*folder, ec)) listFolder(*folder, 1, levels, files, rows);
  const auto count = static_cast<std::int64_t>(rows.rows.size());
  c.setRowCount(count);
  c.send(std::move(rows));
  c.done(false, count, StatementDone::Command::Select);
  return 0;
}

// master..xp_fileexist file [, @exists OUTPUT]: with the output, 1 when the file is there (as a
// file, not a folder), else 0, and no rows; without it, one row of three flags. The name resolves
// as BACKUP resolves its device, so both speak of the same file.
int xpFileexist(Context& c, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>&) {
  const auto text = textArgument(args, 0);
  if (!text) throw SqlError(22027, 16, "Usage:  EXECUTE xp_fileexist <filename> [, <file_exists INT> OUTPUT]");
  const fs::path file = c.server().catalog.resolveBackupPath(*text);
  std::error_code ec;
  const bool isFile = fs::is_regular_file(file, ec);
  const bool isFolder = fs::is_directory(file, ec);
  const bool parent = fs::is_directory(file.parent_path(), ec);
  if (args.size() > 1 && args[1].output) {
    args[1].value = sql::TypedValue{SqlType::integer(), std::int64_t{isFile ? 1 : 0}};
    return 0;
  }
  ResultSet rows;
  rows.columns = {Column{"File Exists", SqlType::integer(), true},
                  Column{"File is a Directory", SqlType::integer(), true},
                  Column{"Parent Directory Exists", SqlType::integer(), true}};
  Row& row = rows.rows.emplace_back();
  for (const bool flag : {isFile, isFolder, parent}) row.emplace_back(std::int64_t{flag ? 1 : 0});
  c.setRowCount(1);
  c.send(std::move(rows));
  c.done(false, 1, StatementDone::Command::Select);
  return 0;
}

// master..xp_delete_file 0, file: removes the file when it is backup media that reads back
// whole, as SQL Server reads a file's header before it deletes it; any other file, a missing
// one and a folder are left without a word.
int xpDeleteFile(Context&, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>&) {
  const auto type = integerArgument(args, 0);
  if (args.size() > 2 || !type || *type != 0)
    throw SqlError(50000, 16,
                   "The stand-in server supports xp_delete_file only for one backup file: "
                   "xp_delete_file 0, N'<full path of the file>'.");
  const auto text = textArgument(args, 1);
  const auto file = text ? serverPath(*text) : std::nullopt;
  if (!file) return 0;
  std::error_code ec;
  if (!fs::is_regular_file(*file, ec)) return 0;
  const BackupFileLock lock(*file);  // not while a backup writes it
  if (readBackupFile(*file, false).status != BackupReadStatus::Ok) return 0;
  if (::unlink(file->c_str()) != 0 && errno != ENOENT) {
    const int err = errno;
    throw SqlError(22049, 16,
                   "xp_delete_file() returned error " +
                       std::to_string(err == EACCES || err == EPERM ? 5 : 31) + ", '" +
                       (err == EACCES || err == EPERM ? "Access is denied." : std::strerror(err)) + "'");
  }
  return 0;
}

}  // namespace standin::backup
