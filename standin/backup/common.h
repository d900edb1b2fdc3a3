// What the maintenance statements share: SQL Server's messages for failed file operations and
// for statements that end abnormally, reading a backup set a statement names, and holding a
// database while a statement reads it.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standin/backup/backup_file.h"
#include "standin/backup/statements.h"
#include "standin/server/context.h"
#include "standin/sql/ast.h"
#include "standin/sql/parser.h"
#include "standin/sql/errors.h"
#include "standin/storage/catalog.h"

namespace standin::backup {

sql::Message msg(int number, int severity, std::string text);
// Ends the statement with these errors and SQL Server's last word, 3013 "WHAT is terminating
// abnormally."
[[noreturn]] void terminate(const std::string& what, std::vector<sql::Message> first);

// errno of a failed file operation -> "3(The system cannot find the path specified.)"
std::string osErrorText(int err, bool reading, const std::filesystem::path& path);
// A Windows-style absolute path ("C:\...", "\\server\share") names nothing on this machine.
bool isForeignPath(const std::string& text);
sql::Message cannotOpen(const std::string& device, const std::string& osText);
// 3634: a file of the database could not be written.
sql::Message osErrorWhile(int err, const std::string& attempting, const std::filesystem::path& file);
sql::Message writeFailed(const std::filesystem::path& file, int err);
// 911 in the release's words: 2000 names sysdatabases.
sql::Message missingDatabase(int year, const std::string& name);

// The statement is one more user of the database while it reads or compacts it, so that a
// restore or drop waits for it; a database being restored ends it with 927.
std::unique_ptr<storage::DbLease> holdDatabase(server::Context& c, const std::string& name);
// The database file's bytes, read through SQLite (a consistent copy).
std::string snapshotDatabase(const std::filesystem::path& file);
// True when the bytes are a sound SQLite database.
bool contentIsSound(const std::string& content);
// 8 KB pages of a number of bytes, at least 1.
std::int64_t pagesOf(std::uint64_t bytes);
// "0.012 seconds (1.234 MB/sec)" of 3014.
std::string timing(std::chrono::steady_clock::time_point start, std::uint64_t bytes);

// ---- reading the statements ----

// TO | FROM DISK = expr: the device; the other kinds, and more than one, are refused.
sql::ExprPtr readDevices(sql::Parser& p, int line);
// WITH option [= value], ...: the options SQL Server takes for the statement in the release
// (`known`; TRUNCATE_ONLY and NO_LOG too with `truncateOnlyKnown`), else 155 naming `what`.
void readWithOptions(sql::Parser& p, StatementWithOptions& s, const std::vector<std::string_view>& known,
                     const char* what, bool truncateOnlyKnown);

// ---- running them ----

// WITH STATS [= n]: the step of 3211's percentages (0 without STATS).
int statsStep(server::Context& c, const StatementWithOptions& s);
// WITH FILE = n: the set's position on the media (1 without it).
int fileOption(server::Context& c, const StatementWithOptions& s);
// Options of the statement that SQL Server takes but the stand-in does not carry out are
// refused (50000) rather than ignored; options SQL Server does not take for this kind of
// statement are its 3032.
void refuseOptions(const StatementWithOptions& s, const std::string& what,
                   const std::vector<std::string_view>& notCarriedOut,
                   const std::vector<std::string_view>& notForThisStatement = {});

// The media a backup file holds, or the statement ends as SQL Server ends it (3201, 3241, 3203,
// 3189); `fileNo` 0 reads every set, else that set must be there (3206... as SQL Server's
// "The backup set on file n was not found").
BackupReadResult readMedia(const std::string& what, const std::filesystem::path& file, bool withContent);
BackupSet readSet(const std::string& what, const std::filesystem::path& file, int fileNo);
// A set read from the file: every file it names, filled in for sets of format 1 from the
// names SQL Server gives and where the data folder keeps them.
std::vector<BackupFileEntry> setFiles(const storage::Catalog& catalog, const BackupSetInfo& info);

}  // namespace standin::backup
