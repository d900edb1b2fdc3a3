// Evaluating expressions the way SQL Server does: its conversions, operators and built-in
// functions, over the variables of the running batch and what the session running it knows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "standin/base/collation.h"
#include "standin/sql/ast.h"
#include "standin/sql/results.h"
#include "standin/sql/value.h"

namespace standin::sql {

struct TypedValue {
  SqlType type;
  Value value;
};

struct Variable {
  SqlType type;
  Value value;
  // A table variable: its columns, and the table the session keeps its rows in.
  bool isTable = false;
  std::vector<TableColumn> columns;
  std::string storageTable;
  std::string collation;  // of its text columns: the database's current at its declaration
};
// The variables of a batch, by lower-case name ("@name").
using Scope = std::map<std::string, Variable>;

// CONVERT(target, v, style) with SQL Server's rules and errors; style -1 is the default style.
TypedValue convert(const TypedValue& v, const SqlType& target, int style, int line);
// SqlError 506 unless the ESCAPE of a LIKE is a single character.
void checkLikeEscape(const std::string& escape, int line);
// A condition's value: true for a non-zero number.
bool truthy(const TypedValue& v);
// AND, OR, the comparisons and the arithmetic and bitwise operators; + of two strings
// concatenates, + of a string and a number converts the string. Strings compare in `collation`
// (the server's when none is given).
TypedValue binaryOp(const std::string& op, const TypedValue& a, const TypedValue& b, int line,
                    const base::Collation* collation = nullptr);
// The words SQL Server names a comparison by in 468: "equal to", "less than", ..., "like".
std::string operationName(const std::string& op);
// 468: two collations that do not give way to each other met in `operation`.
[[noreturn]] void collationConflict(const std::string& a, const std::string& b, const std::string& operation,
                                    int line);

class Evaluator;

// What an expression asks of the session that runs it: the @@ values, and the functions whose
// result depends on the server or the session (GETDATE, DB_NAME, SERVERPROPERTY, ...).
class Environment {
 public:
  virtual ~Environment() = default;
  // @@NAME; throws SqlError 137 for a name it does not know.
  virtual TypedValue global(const Expr& e) = 0;
  // The value of the function `e` calls when it is one of the session's, else nullopt.
  virtual std::optional<TypedValue> sessionFunction(const Expr& e, Evaluator& evaluator) = 0;
  // The rows of the query of a subquery, EXISTS or IN (SELECT ...), run over the batch's
  // variables where the session keeps its tables.
  virtual ResultSet subquery(const Expr& e) = 0;
  // The current database's collation: what variables and literals compare in (and what
  // COLLATE DATABASE_DEFAULT names).
  virtual const base::Collation& defaultCollation() { return base::serverCollation(); }
};

class Evaluator {
 public:
  Evaluator(Scope& vars, Environment& environment) : vars_(vars), environment_(environment) {}

  TypedValue eval(const Expr& e);
  // The value as nvarchar text; empty for NULL.
  std::string evalText(const Expr& e);
  // SET @name = v: converted to the variable's type; throws SqlError 137 for an undeclared one.
  void assign(const std::string& name, const TypedValue& v, int line);

  // For the functions of an Environment: the number of arguments `e` must have (SqlError 174
  // otherwise), and argument i as text or as an integer (nullopt for NULL).
  void requireArguments(const Expr& e, std::size_t lo, std::size_t hi) const;
  std::optional<std::string> textArgument(const Expr& e, std::size_t i);
  std::optional<std::int64_t> integerArgument(const Expr& e, std::size_t i);

 private:
  TypedValue callFunction(const Expr& e);
  // The collation two operands compare in: an explicit COLLATE on either (468 when both have
  // one and they differ), else the current database's.
  const base::Collation& collationFor(const Expr& a, const Expr& b, const std::string& operation);

  Scope& vars_;
  Environment& environment_;
};

}  // namespace standin::sql
