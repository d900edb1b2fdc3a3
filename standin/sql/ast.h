// The statements and expressions the stand-in understands.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standin/sql/lexer.h"
#include "standin/sql/results.h"
#include "standin/sql/value.h"

namespace standin::sql {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
  enum class Kind {
    Literal,
    Variable,
    Global,
    Column,
    Function,
    Convert,
    Binary,
    Unary,
    IsNull,
    Like,
    In,
    Between,
    Case,
    Subquery,  // (SELECT ...): its single value
    Exists,    // EXISTS (SELECT ...)
    Collate    // args[0] COLLATE name: name the collation's (or DATABASE_DEFAULT)
  };
  Kind kind = Kind::Literal;
  int line = 1;
  int height = 1;  // levels of the tree from this node down: what evaluating and freeing it recurse
  Value literal;
  SqlType type;  // literal's type; target type of CONVERT/CAST
  bool hasType = false;
  std::string name;           // variable, global, column or function name; operator symbol
  std::vector<ExprPtr> args;  // operands / arguments; Case: [operand?] when/then pairs, else;
                              // Like: text, pattern[, escape]
  std::vector<Token> query;   // Subquery, Exists, IN (SELECT ...): the SELECT statement's tokens
  bool negated = false;       // IS NOT NULL, NOT LIKE, NOT IN, NOT BETWEEN
  bool caseHasOperand = false;
  bool caseHasElse = false;
};

struct Statement;
using StatementPtr = std::unique_ptr<Statement>;

struct SelectItem {
  std::string alias;
  bool hasAlias = false;
  std::string assignTo;  // SELECT @v = expr
  ExprPtr expr;
};

struct OptionItem {
  std::string name;  // upper case
  ExprPtr value;     // may be null (INIT, REPLACE, STATS without a value)
  ExprPtr value2;    // MOVE 'a' TO 'b'
};

struct ExecArg {
  std::string name;  // "@p" or empty for positional
  ExprPtr value;     // null with isDefault
  bool output = false;
  bool isDefault = false;
};

// A column of a table variable: DECLARE @t TABLE (name type [NULL | NOT NULL], ...).
struct TableColumn {
  std::string name;
  SqlType type;
  bool nullable = true;
};

struct Declaration {
  std::string name;
  SqlType type;
  ExprPtr init;
  bool isTable = false;
  std::vector<TableColumn> columns;  // a table variable's
};

struct Statement {
  enum class Kind {
    Block,
    If,
    Declare,
    SetVariable,
    SetOption,
    Select,
    Passthrough,
    Use,
    Print,
    Raiserror,
    Waitfor,
    Exec,
    ExecString,
    BeginTran,
    CommitTran,
    RollbackTran,
    BackupDatabase,
    BackupLog,
    RestoreDatabase,  // value null: RESTORE DATABASE x WITH RECOVERY, without a device
    RestoreLog,
    RestoreVerify,
    RestoreHeaderOnly,
    RestoreFileListOnly,
    DbccShrinkDatabase,
    Dbcc,
    CreateDatabase,
    DropDatabase,
    AlterDatabase,  // ALTER DATABASE target SET RECOVERY op [WITH termination]; target null: CURRENT
    Checkpoint,
    Return,
    While,  // condition, body[0]
    Break,
    Continue,
    SelectAssign,  // SELECT @v = expr, ... FROM ...: tokens (the query without "@v ="), items
    Insert,        // INSERT into a table variable, or from EXEC: see InsertSource
    TryCatch,      // BEGIN TRY body[0] END TRY BEGIN CATCH body[1] END CATCH (each a Block)
    Unsupported
  };
  // Where an Insert statement's rows come from.
  enum class InsertSource { Query, Exec, Values };
  Kind kind = Kind::Block;
  int line = 1;
  // The statement's own text in its batch: [textBegin, textEnd). For IF and WHILE the part up to
  // the end of the condition, without the statements they run.
  std::size_t textBegin = 0;
  std::size_t textEnd = 0;
  std::vector<StatementPtr> body;  // Block; If: [then, else?]
  ExprPtr condition;               // If
  std::vector<Declaration> declarations;
  std::string name;             // variable, option, database, procedure, DBCC command, feature
  std::string op;               // SET @v op= expr
  ExprPtr target;               // database name expression (BACKUP, RESTORE, DBCC, USE)
  ExprPtr value;                // SET value, disk, PRINT text, WAITFOR delay, EXEC(string)
  std::vector<ExprPtr> values;  // RAISERROR arguments, DBCC arguments
  std::vector<SelectItem> items;
  std::vector<OptionItem> options;
  std::vector<ExecArg> args;
  std::string returnVariable;  // EXEC @rc = proc
  std::vector<Token> tokens;   // Passthrough statement; SelectAssign; Insert: the source query
  // Insert: the target (a table variable's lower-case name, or the table's name tokens), the
  // columns named, and the source: the query's tokens, an Exec statement in body[0], or rows.
  bool targetIsVariable = false;
  std::vector<Token> targetTokens;
  std::vector<std::string> columns;
  InsertSource insertSource = InsertSource::Query;
  std::vector<std::vector<ExprPtr>> rows;
  StatementDone::Command command = StatementDone::Command::Other;
  bool waitForTime = false;  // WAITFOR TIME instead of DELAY

  const OptionItem* option(std::string_view upperName) const {
    for (const auto& o : options)
      if (o.name == upperName) return &o;
    return nullptr;
  }
};

}  // namespace standin::sql
