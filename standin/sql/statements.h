// The statements of the language itself, each a type of its own with its reader: blocks and
// control of flow, variables and options, queries and the statements handed to the storage
// engine, procedure calls, messages, waits and transactions. The server registers each with
// the words that start it and the code that runs it (engine/registry.cpp); the maintenance
// statements, the Agent's and the system objects' are the rooms'.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "standin/sql/ast.h"
#include "standin/sql/parser.h"

namespace standin::sql {

// BEGIN ... END
struct Block : Statement {
  std::vector<StatementPtr> body;
};
// IF condition statement [ELSE statement]
struct If : Statement {
  ExprPtr condition;
  StatementPtr then;
  StatementPtr otherwise;  // may be null
};
// WHILE condition statement
struct While : Statement {
  ExprPtr condition;
  StatementPtr body;
};
struct Break : Statement {};
struct Continue : Statement {};
// BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH
struct TryCatch : Statement {
  std::unique_ptr<Block> tryBlock;
  std::unique_ptr<Block> catchBlock;
};
struct Return : Statement {
  ExprPtr value;  // may be null
};

struct Declare : Statement {
  std::vector<Declaration> declarations;
};
// SET @v op= expr
struct SetVariable : Statement {
  std::string name;
  std::string op;  // =, +=, -=, *=, /=
  ExprPtr value;
};
// SET option ...
struct SetOption : Statement {
  std::string name;           // upper case
  std::vector<Token> tokens;  // what follows the option's name
};

// SELECT expr, ... [WHERE condition] without FROM, evaluated by the stand-in itself.
struct SelectWithoutTable : Statement {
  std::vector<SelectItem> items;
  ExprPtr condition;  // may be null
};
// SELECT @v = expr, ... FROM ...: the query without the "@v =" parts, run on the storage engine.
struct SelectAssign : Statement {
  std::vector<Token> tokens;
  std::vector<SelectItem> items;
};
// A statement the storage engine runs as it stands (after translation): SELECT ... FROM, INSERT,
// UPDATE, DELETE, TRUNCATE TABLE, CREATE / DROP / ALTER TABLE, INDEX and VIEW.
struct Passthrough : Statement {
  std::vector<Token> tokens;
  StatementDone::Command command = StatementDone::Command::Other;
};

// EXEC [@rc =] [database.[schema].]procedure arguments
struct Exec : Statement {
  std::string name;      // the procedure's own name, as written
  std::string database;  // the database qualifier; empty: none
  std::vector<ExecArg> args;
  std::string returnVariable;  // EXEC @rc = proc
};
// EXEC (string)
struct ExecString : Statement {
  ExprPtr value;
};
// INSERT into a table variable, or from EXEC; the storage engine runs every other INSERT.
struct Insert : Statement {
  enum class Source { Query, Exec, Values };
  Source source = Source::Query;
  bool targetIsVariable = false;
  std::string variable;            // a table variable's lower-case name
  std::vector<Token> targetTokens;  // a table's name
  std::vector<std::string> columns;
  std::vector<Token> query;  // Source::Query
  StatementPtr exec;          // Source::Exec: an Exec or ExecString
  std::vector<std::vector<ExprPtr>> rows;  // Source::Values
};

struct Use : Statement {
  ExprPtr database;
};
struct Print : Statement {
  ExprPtr value;
};
struct Raiserror : Statement {
  std::vector<ExprPtr> arguments;
};
// WAITFOR DELAY | TIME expr
struct Waitfor : Statement {
  ExprPtr value;
  bool time = false;
};

struct BeginTransaction : Statement {};
struct CommitTransaction : Statement {};
struct RollbackTransaction : Statement {};

// The readers, each at the statement's first word.
StatementPtr readBlock(Parser& p);
StatementPtr readIf(Parser& p);
StatementPtr readWhile(Parser& p);
StatementPtr readBreak(Parser& p);
StatementPtr readContinue(Parser& p);
StatementPtr readTryCatch(Parser& p);  // BEGIN TRY, and BEGIN CATCH out of place
StatementPtr readReturn(Parser& p);
StatementPtr readDeclare(Parser& p);
StatementPtr readSet(Parser& p);     // SetVariable or SetOption
StatementPtr readSelect(Parser& p);  // SelectWithoutTable, SelectAssign or Passthrough
StatementPtr readInsert(Parser& p);  // Insert or Passthrough
StatementPtr readUpdateOrDelete(Parser& p);
StatementPtr readTruncate(Parser& p);
StatementPtr readCreate(Parser& p);  // a table, index or view; what else CREATE makes is refused
StatementPtr readDrop(Parser& p);
StatementPtr readAlter(Parser& p);
StatementPtr readExec(Parser& p);  // Exec or ExecString
StatementPtr readUse(Parser& p);
StatementPtr readPrint(Parser& p);
StatementPtr readRaiserror(Parser& p);
StatementPtr readWaitfor(Parser& p);
StatementPtr readBeginTransaction(Parser& p);
StatementPtr readCommit(Parser& p);
StatementPtr readRollback(Parser& p);
// Statements SQL Server has and the stand-in refuses (SAVE, GOTO, cursors, permissions, ...),
// and BEGIN DISTRIBUTED, CONVERSATION and DIALOG.
StatementPtr refuseStatement(Parser& p);
StatementPtr refuseBegin(Parser& p);

// A procedure's name alone at the start of a batch runs it: EXEC without its keyword.
std::unique_ptr<Exec> readBareExec(Parser& p);

}  // namespace standin::sql
