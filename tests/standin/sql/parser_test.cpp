// The parser with the server's whole grammar: the program's batches, each statement read into its
// kind's own payload, and the texts SQL Server refuses, refused with its numbers and words.
#include <gtest/gtest.h>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "core/maintenance/command_builder.h"
#include "standin/backup/statements.h"
#include "standin/engine/engine.h"
#include "standin/sql/errors.h"
#include "standin/sql/lexer.h"
#include "standin/sql/parser.h"
#include "standin/sql/statements.h"

namespace {

namespace sql = standin::sql;
namespace bk = standin::backup;
namespace mt = bv::maintenance;

// An expression as the rows name it: a literal's text, a variable's name.
std::string named(const sql::ExprPtr& e) {
  if (!e) return "-";
  return e->kind == sql::Expr::Kind::Literal    ? sql::valueToText(e->literal)
         : e->kind == sql::Expr::Kind::Variable ? e->name
                                                : "expr";
}

// A payload type's own name, without its namespace: "RestoreFileListOnly".
std::string kindOf(const sql::Statement& s) {
  const std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(typeid(s).name(), nullptr, nullptr, nullptr), &std::free);
  const std::string full = name ? name.get() : typeid(s).name();
  return full.substr(full.rfind(':') + 1);
}

template <typename Payload>
const Payload* as(const sql::Statement& s) {
  return dynamic_cast<const Payload*>(&s);
}

std::string shape(const sql::Statement& s);
std::string shapes(const std::vector<sql::StatementPtr>& list) {
  std::string out;
  for (const auto& s : list) out += (out.empty() ? "" : " ") + shape(*s);
  return out;
}

// A statement as its payload type and the fields that matter: "Backup(Sample to @f with INIT)".
std::string shape(const sql::Statement& s) {
  std::string f;
  if (auto* b = as<bk::Backup>(s))
    f = (b->log ? "LOG " : "") + named(b->database) + " to " + named(b->device);
  if (auto* r = as<bk::RestoreTo>(s)) f = named(r->database) + " from " + named(r->device);
  if (auto* r = as<bk::RestoreFrom>(s)) f = "from " + named(r->device);
  if (auto* d = as<bk::Dbcc>(s))
    for (const auto& a : d->arguments) f += (f.empty() ? "" : ",") + named(a);
  if (auto* w = as<bk::StatementWithOptions>(s))
    for (const auto& o : w->options)
      f += (&o == &w->options.front() ? " with " : ",") + o.name + (o.value ? "=" + named(o.value) : "") +
           (o.value2 ? ">" + named(o.value2) : "");
  if (auto* b = as<sql::Block>(s)) f = shapes(b->body);
  if (auto* i = as<sql::If>(s)) f = shape(*i->then) + (i->otherwise ? " else " + shape(*i->otherwise) : "");
  if (auto* w = as<sql::While>(s)) f = shape(*w->body);
  if (auto* t = as<sql::TryCatch>(s)) f = shapes(t->tryBlock->body) + " catch " + shapes(t->catchBlock->body);
  if (auto* d = as<sql::Declare>(s))
    for (const auto& v : d->declarations) f += (f.empty() ? "" : ",") + v.name;
  if (auto* v = as<sql::SetVariable>(s)) f = v->name;
  if (auto* a = as<sql::SelectAssign>(s)) f = a->items.front().assignTo;
  if (auto* q = as<sql::Passthrough>(s)) f = q->tokens.front().text + "…" + q->tokens.back().text;
  if (auto* e = as<sql::Exec>(s)) {
    f = (e->database.empty() ? "" : e->database + ".") + e->name;
    for (const auto& a : e->args) f += " " + (a.name.empty() ? "" : a.name + "=") + named(a.value);
  }
  if (auto* e = as<sql::ExecString>(s)) f = named(e->value);
  if (auto* n = as<sql::Insert>(s)) f = n->variable + (n->exec ? " " + shape(*n->exec) : "");
  return kindOf(s) + (f.empty() ? "" : "(" + f + ")");
}

struct Case {
  const char* name;
  int year;
  std::string text;
  std::string outcome;  // every statement's shape in order, or the error: "102 Incorrect syntax near 'x'."
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.text; }

class Batches : public ::testing::TestWithParam<Case> {};

TEST_P(Batches, ReadIntoEachKindsPayloadOrRefusedAsSqlServerRefuses) {
  std::string outcome;
  try {
    outcome = shapes(sql::parseBatch(sql::tokenize(GetParam().text),
                                     {GetParam().year, &standin::engine::statementGrammar()}));
  } catch (const sql::SqlError& e) {
    outcome = std::to_string(e.message.number) + " " + e.message.text;
  }
  EXPECT_EQ(outcome, GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Parser, Batches,
    ::testing::Values(
        // What the program sends, read into each kind's payload.
        Case{"Backup", 2005, mt::buildBackupCommand("a]b", "/b/%date%.bak", true),
             "Block(Declare(@strdate) Declare(@strfile) Declare(@strname) SetVariable(@strdate) SetVariable("
             "@strdate) SetVariable(@strfile) SetVariable(@strname) Backup(a]b to @strfile with "
             "STATS=100,INIT,"
             "NAME=@strname,DESCRIPTION=Build by Brackenvale)) RestoreVerifyOnly(from @strfile)"},
        Case{"LogNoinit", 2008, "BACKUP LOG x TO DISK = @f WITH NOINIT, STATS = 10",
             "Backup(LOG x to @f with NOINIT,STATS=10)"},
        Case{"TruncateOnly", 2005, mt::buildTruncateLogCommand("x"), "Backup(LOG x to - with TRUNCATE_ONLY)"},
        Case{"Restore", 2005, mt::buildRestoreCommand("x", "it's"),
             "RestoreDatabase(x from it's with REPLACE)"},
        Case{"RestoreMove", 2019,
             "RESTORE DATABASE [s1] FROM DISK = N'/b/x.bak' WITH FILE = 2, MOVE N'Sample' TO N'/d/s1'",
             "RestoreDatabase(s1 from /b/x.bak with FILE=2,MOVE=Sample>/d/s1)"},
        Case{"FileList", 2016, "RESTORE FILELISTONLY FROM DISK = N'/b/x.bak' WITH FILE = 2",
             "RestoreFileListOnly(from /b/x.bak with FILE=2)"},
        Case{"Header", 2000, "RESTORE HEADERONLY FROM DISK = N'x.bak'", "RestoreHeaderOnly(from x.bak)"},
        Case{"Shrink", 2000, mt::buildShrinkCommand("Sample"), "DbccShrinkDatabase(Sample,1)"},
        Case{"CheckDb", 2005, "DBCC CHECKDB ([s1]) WITH NO_INFOMSGS, ALL_ERRORMSGS",
             "DbccCheckDb(s1 with NO_INFOMSGS,ALL_ERRORMSGS)"},
        Case{"AddJob", 2005, "EXECUTE msdb.dbo.sp_add_job @job_name = N'Nightly', @enabled = 1 ",
             "Exec(msdb.sp_add_job @job_name=Nightly @enabled=1)"},
        Case{"InsertExec", 2005, "INSERT INTO @f EXEC master..xp_dirtree @d, 1, 1",
             "Insert(@f Exec(master.xp_dirtree @d 1 1))"},
        Case{"IfElse", 2016, "IF @v >= 13 INSERT INTO @f (a) EXEC (@sql) ELSE INSERT @f EXEC (@sql)",
             "If(Insert(@f ExecString(@sql)) else Insert(@f ExecString(@sql)))"},
        Case{"WhileTry", 2005,
             "WHILE 1 = 1 BEGIN SELECT TOP 1 @next = d.name FROM sys.databases d IF @next IS NULL "
             "BREAK BEGIN TRY EXEC (@sql) END TRY BEGIN CATCH PRINT ERROR_MESSAGE() END CATCH END",
             "While(Block(SelectAssign(@next) If(Break) TryCatch(ExecString(@sql) catch Print)))"},
        Case{"History", 2005,
             "SELECT s.name FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily m ON "
             "m.media_set_id = s.media_set_id ORDER BY s.backup_finish_date DESC SELECT @@ROWCOUNT",
             "Passthrough(SELECT…DESC) SelectWithoutTable"},
        // What SQL Server refuses, with its number and words; and what the stand-in refuses.
        Case{"TrailingComma", 2005, "BACKUP DATABASE [Sample] TO DISK = N'x' WITH INIT,",
             "102 Incorrect syntax near ','."},
        Case{"EndsInKeyword", 2005, "RESTORE DATABASE [Sample] FROM DISK = N'x' WITH",
             "156 Incorrect syntax near the keyword 'WITH'."},
        Case{"Unclosed", 2005, "SELECT 'ab", "105 Unclosed quotation mark after the character string 'ab'."},
        Case{"TruncateOnlyGone", 2008, mt::buildTruncateLogCommand("Sample"),
             "155 'TRUNCATE_ONLY' is not a recognized BACKUP option."},
        Case{"LabelOnly", 2005, "RESTORE LABELONLY FROM DISK = N'x'",
             "50000 The stand-in server does not support RESTORE LABELONLY."}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
