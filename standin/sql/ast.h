// Expressions, and what every statement has (each kind of statement is a type of its own).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
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

// What every statement has: where it stands in its batch. Each kind of statement is a type of
// its own, derived from this, with what it needs (statements.h has the language's own; the
// rooms have theirs), and the server runs it by its type.
struct Statement {
  virtual ~Statement() = default;
  int line = 1;
  // The statement's own text in its batch: [textBegin, textEnd). For IF and WHILE the part up to
  // the end of the condition, without the statements they run.
  std::size_t textBegin = 0;
  std::size_t textEnd = 0;
};
using StatementPtr = std::unique_ptr<Statement>;

struct SelectItem {
  std::string alias;
  bool hasAlias = false;
  std::string assignTo;  // SELECT @v = expr
  ExprPtr expr;
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

}  // namespace standin::sql
