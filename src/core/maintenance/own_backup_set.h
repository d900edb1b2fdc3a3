// The backup set a run wrote itself, as the server's history names it: what the prune and the
// proof act on, and never "the newest backup of the database", which may be another task's that
// finished while this run verified or proved its own.
//
// Of the sets of the database described 'Build by Brackenvale', type D, it is the one with the
// largest backup_set_id that (1) came after this run began — its backup_set_id is above the
// largest the history held for the database just before this run's backup (the window and
// Brackenrun read it first), or, in an Agent job, whose steps cannot hand a value on, it started
// no earlier than the running job (msdb.dbo.sysjobactivity) — and (2) whose file has this road's
// name: the typed file name with eight digits for each %date% (and six forming a time of day for
// each %time%), in the typed folder when one was typed, else in the folder the server recorded.
// A differential or a log road looks for its own set of that type.
//
// Names are compared as the server's file system compares them, not by the server's collation:
// byte for byte where sys.dm_os_host_info says Linux (SQL Server 2017 on), otherwise as NTFS does
// (case ignored, kana and width not): Latin1_General_BIN2 or Latin1_General_CI_AS_KS_WS. The batch
// finds out itself, so an Agent job keeps the right rule whatever the server becomes. Qt-free.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bv::maintenance {

inline constexpr std::string_view kOwnSetNotFound = "今回のバックアップがバックアップ履歴に見つかりません。";

// How a road knows its own run.
struct RunMark {
  // Window and Brackenrun: the largest backup_set_id of the database before the backup (0 for
  // none); nothing when it could not be read, and then no set is this run's.
  std::optional<std::int64_t> lastSetBefore;
  // An Agent job: its name, whose running start in sysjobactivity bounds the set's start.
  std::string jobName;

  static RunMark afterSet(std::optional<std::int64_t> lastSetBefore) { return {lastSetBefore, {}}; }
  static RunMark ofJob(std::string jobName) { return {std::nullopt, std::move(jobName)}; }
};

// How names are compared. SQL Server 2000 has no sys.dm_os_host_info and runs on Windows only, and
// cannot run the finding-out lines (INSERT ... EXEC into a table variable): it gets the Windows rule.
enum class NameRule { Windows, FromHost };
NameRule nameRuleFor(int serverMajorVersion);

inline constexpr std::string_view kExactCollation = "Latin1_General_BIN2";
inline constexpr std::string_view kWindowsCollation = "Latin1_General_CI_AS_KS_WS";
// SQL Server 2000 has no BIN2 collations; its BIN one orders the digits the same way.
inline constexpr std::string_view kExactCollation2000 = "Latin1_General_BIN";
std::string_view exactCollation(NameRule rule);

// A typed backup file cut into what a written file's name must repeat: the typed folder (with its
// last separator; empty when none was typed), then the file name's literal pieces around each
// %date% and %time% (in any letter case; a differential's or a log's name holds %time%).
// Positions and lengths count UTF-16 units, as nvarchar does.
struct FileNamePattern {
  std::string folder;
  std::vector<std::string> pieces;      // one more than there are dates and times
  std::vector<std::size_t> piecesAt;    // 1-based, within the file name
  std::vector<std::size_t> datesAt;     // 1-based, within the file name: 8 digits each
  std::vector<std::size_t> timesAt;     // 1-based, within the file name: 6 digits each (hhmmss)
  std::size_t nameLength = 0;           // of a matching file name
  std::size_t folderLength = 0;
};
FileNamePattern fileNamePattern(std::string_view backupFile);

// Whether the file-name part of a path holds %date% (in any letter case) and no folder part does.
bool hasDateInFileNameOnly(std::string_view backupFile);

// T-SQL: `a` and `b` name the same file under the rule (the FromHost form reads @linux, which
// nameRuleLines sets).
std::string sameName(std::string_view a, std::string_view b, NameRule rule);
// T-SQL: `a` and `b` are the same text exactly (names the batch took from a listing itself).
std::string sameText(std::string_view a, std::string_view b, NameRule rule = NameRule::FromHost);

// Lines that declare @linux and set it from sys.dm_os_host_info (FromHost; nothing for Windows).
std::vector<std::string> nameRuleLines(NameRule rule);

// T-SQL: the six digits are a time of day, hhmmss.
std::string realTimeDigits(std::string_view digits, NameRule rule);

// Lines that declare @db (set to the database), @setId, @newPath, @position and @size and set
// the last four from this run's set, of that type ('D' full, 'I' differential, 'L' log); @setId
// stays NULL when there is none. Include nameRuleLines first for the FromHost rule.
std::vector<std::string> ownSetLines(std::string_view databaseName, std::string_view backupFile, const RunMark& mark,
                                     NameRule rule, char setType = 'D');

}  // namespace bv::maintenance
