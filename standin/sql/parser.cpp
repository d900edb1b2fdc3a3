#include "standin/sql/parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <stdexcept>

#include "standin/base/collation.h"
#include "standin/base/text.h"
#include "standin/sql/statements.h"

namespace standin::sql {

using base::equalsIgnoreCase;
using base::serverCodePageLength;
using base::toLowerAscii;
using base::toUpperAscii;
using base::utf16Length;

namespace {

// The tallest expression tree a statement may build (see attach).
constexpr int kMaxExpressionHeight = 1000;

constexpr std::array kReserved = {
    "ADD",        "ALL",       "ALTER",    "AND",        "ANY",        "AS",       "ASC",         "BACKUP",
    "BEGIN",      "BETWEEN",   "BREAK",    "BY",         "CASE",       "CHECK",    "CHECKPOINT",  "CLOSE",
    "COLLATE",    "COLUMN",    "COMMIT",   "CONSTRAINT", "CONTINUE",   "CONVERT",  "CREATE",      "CROSS",
    "CURRENT",    "CURSOR",    "DATABASE", "DBCC",       "DEALLOCATE", "DECLARE",  "DEFAULT",     "DELETE",
    "DENY",       "DESC",      "DISTINCT", "DROP",       "ELSE",       "END",      "EXCEPT",      "EXEC",
    "EXECUTE",    "EXISTS",    "FETCH",    "FOR",        "FOREIGN",    "FROM",     "FULL",        "FUNCTION",
    "GOTO",       "GRANT",     "GROUP",    "HAVING",     "IF",         "IN",       "INDEX",       "INNER",
    "INSERT",     "INTERSECT", "INTO",     "IS",         "JOIN",       "KEY",      "KILL",        "LEFT",
    "LIKE",       "MERGE",     "NOT",      "NULL",       "OF",         "OFF",      "ON",          "OPEN",
    "OR",         "ORDER",     "OUTER",    "PRIMARY",    "PRINT",      "PROC",     "PROCEDURE",   "RAISERROR",
    "REFERENCES", "RESTORE",   "RETURN",   "REVOKE",     "RIGHT",      "ROLLBACK", "SAVE",        "SELECT",
    "SET",        "TABLE",     "THEN",     "TO",         "TOP",        "TRAN",     "TRANSACTION", "TRUNCATE",
    "UNION",      "UNIQUE",    "UPDATE",   "USE",        "VALUES",     "VIEW",     "WAITFOR",     "WHEN",
    "WHERE",      "WHILE",     "WITH"};

template <std::size_t N>
bool inList(const std::array<const char*, N>& list, std::string_view word) {
  return std::any_of(list.begin(), list.end(), [&](const char* k) { return equalsIgnoreCase(k, word); });
}

[[noreturn]] void nestedTooDeeply(int line) {
  throw SqlError(
      191, 15,
      "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up into "
      "smaller queries.",
      line);
}

// An operand joins its node. A chain of operators (1+1+1...) is as deep a tree as it is long,
// and chains nest, so the tree's height is bounded as well as the parser's own recursion:
// evaluating and freeing the tree recurse that deep on the session's stack.
void attach(Expr& parent, ExprPtr child) {
  parent.height = std::max(parent.height, child->height + 1);
  if (parent.height > kMaxExpressionHeight) nestedTooDeeply(parent.line);
  parent.args.push_back(std::move(child));
}

}  // namespace

std::string collationName(const Token& t, int serverYear) {
  if (t.kind != Token::Kind::Identifier && t.kind != Token::Kind::QuotedIdentifier)
    throw SqlError(102, 15, "Incorrect syntax near '" + t.text + "'.", t.line);
  if (equalsIgnoreCase(t.text, "DATABASE_DEFAULT")) return "DATABASE_DEFAULT";
  if (const auto* c = base::findCollation(t.text, serverYear)) return c->name;
  throw SqlError(448, 16, "Invalid collation '" + t.text + "'.", t.line);
}

void Grammar::add(std::string first, std::string second, StatementReader reader) {
  if (!reader) throw std::logic_error("no reader for " + first + " " + second);
  first = toUpperAscii(first);
  second = toUpperAscii(second);
  for (const auto& e : entries_)
    if (e.first == first && e.second == second) throw std::logic_error("two readers for " + first + " " + second);
  entries_.push_back(Entry{std::move(first), std::move(second), reader});
}

StatementReader Grammar::find(const Token& first, const Token& second) const {
  if (first.kind != Token::Kind::Identifier) return nullptr;
  StatementReader any = nullptr;
  for (const auto& e : entries_) {
    if (!first.is(e.first)) continue;
    if (e.second.empty()) {
      any = e.reader;
    } else if (second.is(e.second)) {
      return e.reader;
    }
  }
  return any;
}

bool Grammar::startsStatement(const Token& t) const {
  if (t.kind != Token::Kind::Identifier) return false;
  if (t.is("ELSE") || t.is("END")) return true;
  return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return t.is(e.first); });
}

Parser::DepthGuard::DepthGuard(Parser& p, int line) : parser(p) {
  if (++parser.depth_ > 128) nestedTooDeeply(line);
}

std::vector<StatementPtr> Parser::batch() {
  std::vector<StatementPtr> out;
  // A procedure name alone at the start of a batch runs that procedure.
  if (peek().kind == Token::Kind::Identifier && !isReservedKeyword(peek().text) &&
      !startsStatement(peek()) &&
      (peek(1).kind != Token::Kind::Symbol || peek(1).isSymbol(".") || peek(1).isSymbol(";"))) {
    const std::size_t first = p_;
    out.push_back(readBareExec(*this));
    spanText(*out.back(), first);
  }
  while (!atEnd()) {
    if (peek().is("END") || peek().is("ELSE")) syntaxError(peek());
    auto s = statement();
    if (s) out.push_back(std::move(s));
  }
  return out;
}

std::vector<Declaration> Parser::declarationList() {
  std::vector<Declaration> out;
  while (!atEnd()) {
    Declaration d = declaration();
    if (peek().is("OUTPUT") || peek().is("OUT")) next();
    out.push_back(std::move(d));
    if (!acceptSymbol(",")) break;
  }
  if (!atEnd()) syntaxError(peek());
  return out;
}

const Token& Parser::next() {
  const Token& tk = t_[p_];
  if (p_ + 1 < t_.size()) ++p_;
  return tk;
}

bool Parser::accept(std::string_view kw) {
  if (peek().is(kw)) {
    next();
    return true;
  }
  return false;
}

bool Parser::acceptSymbol(std::string_view s) {
  if (peek().isSymbol(s)) {
    next();
    return true;
  }
  return false;
}

void Parser::expect(std::string_view kw) {
  if (!accept(kw)) syntaxError(peek());
}

void Parser::expectSymbol(std::string_view s) {
  if (!acceptSymbol(s)) syntaxError(peek());
}

void Parser::syntaxError(const Token& at) const {
  const Token* tk = &at;
  if (tk->kind == Token::Kind::End) {
    // SQL Server names the last token it read when the batch ends too early.
    std::size_t idx = std::min(p_, t_.size() - 1);
    while (idx > 0 && t_[idx].kind == Token::Kind::End) --idx;
    tk = &t_[idx];
    if (tk->kind == Token::Kind::End) throw SqlError(102, 15, "Incorrect syntax near ''.", at.line);
  }
  if (tk->kind == Token::Kind::Identifier && isReservedKeyword(tk->text))
    throw SqlError(156, 15, "Incorrect syntax near the keyword '" + tk->text + "'.", tk->line);
  throw SqlError(102, 15, "Incorrect syntax near '" + tk->text + "'.", tk->line);
}

void Parser::unsupported(const std::string& what, int line) const {
  throw SqlError(50000, 16, "The stand-in server does not support " + what + ".", line);
}

bool Parser::atBoundary() const {
  const Token& tk = peek();
  return tk.kind == Token::Kind::End || tk.isSymbol(";") || startsStatement(tk);
}

void Parser::expectBoundary() {
  if (!atBoundary()) syntaxError(peek());
}

std::string Parser::identifierText() {
  const Token& tk = peek();
  if (tk.kind == Token::Kind::QuotedIdentifier ||
      (tk.kind == Token::Kind::Identifier && !isReservedKeyword(tk.text))) {
    next();
    return tk.text;
  }
  syntaxError(tk);
}

// The statement's text: from token `first` to the last one read.
void Parser::spanText(Statement& s, std::size_t first) const {
  const std::size_t last = p_ > first ? p_ - 1 : first;
  s.textBegin = t_[first].offset;
  s.textEnd = std::max(s.textBegin, t_[last].offset + t_[last].raw.size());
}

StatementPtr Parser::statement() {
  const std::size_t first = p_;
  auto s = statementAt();
  if (s && s->textEnd == 0) spanText(*s, first);
  return s;
}

Declaration Parser::declaration() {
  const Token& v = peek();
  if (v.kind != Token::Kind::Variable) syntaxError(v);
  next();
  Declaration d;
  d.name = toLowerAscii(v.text);
  accept("AS");
  if (peek().is("CURSOR")) unsupported("cursor variables", v.line);
  if (accept("TABLE")) {
    d.isTable = true;
    d.columns = tableColumns(d.name);
    return d;
  }
  d.type = typeName(false);
  return d;
}

// ( name type [NULL | NOT NULL], ... ) of a table variable.
std::vector<TableColumn> Parser::tableColumns(const std::string& table) {
  expectSymbol("(");
  std::vector<TableColumn> out;
  do {
    TableColumn col;
    const Token& name = peek();
    col.name = identifierText();
    for (const auto& other : out)
      if (equalsIgnoreCase(other.name, col.name))
        throw SqlError(2705, 16,
                       "Column names in each table must be unique. Column name '" + col.name +
                           "' in table '" + table + "' is specified more than once.",
                       name.line);
    col.type = typeName(false);
    if (accept("NOT")) {
      expect("NULL");
      col.nullable = false;
    } else {
      accept("NULL");
    }
    if (!peek().isSymbol(",") && !peek().isSymbol(")"))
      unsupported("constraints, defaults and identity columns in table variables (" + peek().text + ")",
                  peek().line);
    out.push_back(std::move(col));
  } while (acceptSymbol(","));
  expectSymbol(")");
  return out;
}

SqlType Parser::typeName(bool inConvert) {
  const Token& tk = peek();
  if (tk.kind != Token::Kind::Identifier && tk.kind != Token::Kind::QuotedIdentifier) syntaxError(tk);
  next();
  std::vector<int> args;
  bool hasArgs = false;
  if (acceptSymbol("(")) {
    hasArgs = true;
    do {
      const Token& a = peek();
      if (a.is("MAX")) {
        args.push_back(-1);
      } else if (a.kind == Token::Kind::Number) {
        int n = 0;
        std::from_chars(a.text.data(), a.text.data() + a.text.size(), n);
        args.push_back(n);
      } else {
        syntaxError(a);
      }
      next();
    } while (acceptSymbol(","));
    expectSymbol(")");
  }
  return parseTypeName(tk.text, args, hasArgs, inConvert, tk.line);
}

// Index just past the end of a statement handed to the storage engine as it stands.
std::size_t Parser::passthroughEnd(std::size_t start, StatementDone::Command command) const {
  int depth = 0;
  int caseDepth = 0;
  bool sawSet = false;
  bool insertBody = false;
  std::size_t i = start + 1;
  for (; i < t_.size(); ++i) {
    const Token& tk = t_[i];
    if (tk.kind == Token::Kind::End) break;
    if (tk.isSymbol("(")) {
      ++depth;
      continue;
    }
    if (tk.isSymbol(")")) {
      --depth;
      continue;
    }
    if (depth > 0) continue;
    if (tk.isSymbol(";")) break;
    if (tk.is("CASE")) {
      ++caseDepth;
      continue;
    }
    if (tk.is("END")) {
      if (caseDepth > 0) {
        --caseDepth;
        continue;
      }
      break;
    }
    if (caseDepth > 0) continue;  // WHEN ... THEN ... ELSE belong to the CASE
    if (tk.is("VALUES")) insertBody = true;
    if (startsStatement(tk)) {
      const Token& prev = t_[i - 1];
      bool allowed = false;
      if (tk.is("SELECT") &&
          (prev.is("UNION") || prev.is("ALL") || prev.is("EXCEPT") || prev.is("INTERSECT")))
        allowed = true;
      if (tk.is("SELECT") && command == StatementDone::Command::Insert && !insertBody) {
        allowed = true;
        insertBody = true;
      }
      if (tk.is("SET") && command == StatementDone::Command::Update && !sawSet) {
        allowed = true;
        sawSet = true;
      }
      if ((tk.is("DELETE") || tk.is("UPDATE")) && prev.is("ON")) allowed = true;
      if (tk.is("IF") && (prev.is("TABLE") || prev.is("INDEX") || prev.is("VIEW"))) allowed = true;
      if (!allowed) break;
    }
  }
  return i;
}

// Index of the first select item of the SELECT at `select`: past ALL / DISTINCT and TOP.
std::size_t Parser::firstSelectItem(std::size_t select) const {
  std::size_t i = select + 1;
  if (at(i).is("ALL") || at(i).is("DISTINCT")) ++i;
  if (at(i).is("TOP")) {
    ++i;
    if (at(i).isSymbol("(")) {
      i = closingParen(i) + 1;
    } else if (at(i).kind != Token::Kind::End) {
      ++i;
    }
    if (at(i).is("PERCENT")) ++i;
    if (at(i).is("WITH") && at(i + 1).is("TIES")) i += 2;
  }
  return std::min(i, t_.size() - 1);
}

// Index of the ')' closing the '(' at `open` (the end token when unclosed).
std::size_t Parser::closingParen(std::size_t open) const {
  int depth = 0;
  for (std::size_t i = open; i < t_.size(); ++i) {
    if (at(i).kind == Token::Kind::End) return i;
    if (at(i).isSymbol("(")) ++depth;
    if (at(i).isSymbol(")") && --depth == 0) return i;
  }
  return t_.size() - 1;
}

// What SQL Server refuses in a query that the storage engine would take: windowed functions
// the release does not have, and ORDER BY in a subquery or derived table without TOP.
void Parser::checkQuery(std::size_t begin, std::size_t end) const {
  for (std::size_t i = begin; i < end; ++i) {
    const Token& tk = at(i);
    if (tk.is("OVER") && i + 1 < end && at(i + 1).isSymbol("(") && i > begin && at(i - 1).isSymbol(")"))
      checkWindow(i);
    if (tk.is("TOP") && opt_.serverYear == 2000 && i + 1 < end && at(i + 1).isSymbol("("))
      syntaxError(at(i + 1));
    if (tk.isSymbol("(") && i + 1 < end && at(i + 1).is("SELECT")) checkSubqueryOrder(i);
  }
}

// fn(...) OVER (...) at `over`.
void Parser::checkWindow(std::size_t over) const {
  // The function's name: before the '(' that the ')' before OVER closes.
  int depth = 0;
  std::size_t open = over - 1;
  for (std::size_t i = over - 1;; --i) {
    if (at(i).isSymbol(")")) ++depth;
    if (at(i).isSymbol("(") && --depth == 0) {
      open = i;
      break;
    }
    if (i == 0) break;
  }
  const Token& fn = at(open > 0 ? open - 1 : 0);
  const std::string name = toUpperAscii(fn.text);
  const std::size_t close = closingParen(over + 1);
  bool ordered = false, framed = false;
  const Token* orderToken = nullptr;
  int d = 0;
  for (std::size_t i = over + 1; i < close; ++i) {
    if (at(i).isSymbol("(")) ++d;
    if (at(i).isSymbol(")")) --d;
    if (d == 1 && at(i).is("ORDER")) {
      ordered = true;
      orderToken = &at(i);
    }
    if (d == 1 && (at(i).is("ROWS") || at(i).is("RANGE"))) framed = true;
  }
  static const std::array kRanking = {"ROW_NUMBER", "RANK", "DENSE_RANK", "NTILE"};
  static const std::array kAggregates = {"COUNT", "COUNT_BIG", "SUM", "MIN",  "MAX",         "AVG",
                                         "STDEV", "STDEVP",    "VAR", "VARP", "CHECKSUM_AGG"};
  const bool ranking = inList(kRanking, name);
  const bool aggregate = inList(kAggregates, name);
  if (opt_.serverYear == 2000) {
    if (ranking) throw SqlError(195, 15, "'" + name + "' is not a recognized function name.", fn.line);
    syntaxError(at(over));
  }
  if (ranking) {
    if (!ordered)
      throw SqlError(4112, 16, "The ranking function \"" + name + "\" must have an ORDER BY clause.",
                     fn.line);
    return;
  }
  if (aggregate) {
    // ORDER BY and frames in an aggregate's window came with SQL Server 2012.
    if (opt_.serverYear < 2012 && ordered)
      throw SqlError(102, 15, "Incorrect syntax near '" + orderToken->text + "'.", orderToken->line);
    if (opt_.serverYear < 2012 && framed) syntaxError(at(over));
    return;
  }
  if (opt_.serverYear < 2012)
    throw SqlError(195, 15, "'" + name + "' is not a recognized built-in function name.", fn.line);
}

// ( SELECT ... ORDER BY ... ) without TOP.
void Parser::checkSubqueryOrder(std::size_t open) const {
  const std::size_t close = closingParen(open);
  const std::size_t select = open + 1;
  bool top = false;
  std::size_t k = select + 1;
  if (at(k).is("ALL") || at(k).is("DISTINCT")) ++k;
  if (at(k).is("TOP")) top = true;
  int depth = 0;
  for (std::size_t i = select; i < close; ++i) {
    if (at(i).isSymbol("(")) ++depth;
    if (at(i).isSymbol(")")) --depth;
    if (depth == 0 && at(i).is("ORDER") && !top)
      throw SqlError(
          1033, 16,
          opt_.serverYear == 2000
              ? "The ORDER BY clause is invalid in views, inline functions, derived tables, and "
                "subqueries, unless TOP is also specified."
              : "The ORDER BY clause is invalid in views, inline functions, derived tables, "
                "subqueries, and common table expressions, unless TOP or FOR XML is also specified.",
          at(i).line);
  }
}

// Procedure arguments may be bare identifiers standing for strings (EXEC sp_helpdb master).
ExprPtr Parser::procedureArgument() {
  const Token& a = peek();
  if ((a.kind == Token::Kind::Identifier && !isReservedKeyword(a.text) && !peek(1).isSymbol("(") &&
       !peek(1).isSymbol(".")) ||
      a.kind == Token::Kind::QuotedIdentifier) {
    next();
    return stringLiteral(a.text, a.line);
  }
  return expression();
}

ExprPtr Parser::databaseName() {
  const Token& tk = peek();
  if (tk.kind == Token::Kind::Variable) {
    next();
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Variable;
    e->name = toLowerAscii(tk.text);
    e->line = tk.line;
    return e;
  }
  return stringLiteral(identifierText(), tk.line);
}

ExprPtr Parser::stringLiteral(const std::string& text, int line) {
  auto e = std::make_unique<Expr>();
  e->kind = Expr::Kind::Literal;
  e->literal = text;
  e->type = SqlType::nvarchar(std::max<int>(1, static_cast<int>(utf16Length(text))));
  e->hasType = true;
  e->line = line;
  return e;
}

ExprPtr Parser::binary(std::string op, ExprPtr l, ExprPtr r, int line) {
  auto e = std::make_unique<Expr>();
  e->kind = Expr::Kind::Binary;
  e->name = std::move(op);
  e->line = line;
  attach(*e, std::move(l));
  attach(*e, std::move(r));
  return e;
}

// ( SELECT ... ): the SELECT's tokens, checked as any query; the parentheses are read.
std::vector<Token> Parser::subqueryTokens() {
  const std::size_t open = p_;
  const std::size_t close = closingParen(open);
  if (!t_[close].isSymbol(")")) syntaxError(t_[close]);
  checkQuery(open, close + 1);
  std::vector<Token> out(t_.begin() + static_cast<std::ptrdiff_t>(open + 1),
                         t_.begin() + static_cast<std::ptrdiff_t>(close));
  p_ = close;
  next();
  return out;
}

ExprPtr Parser::expression() {
  DepthGuard guard(*this, peek().line);
  return orExpr();
}

ExprPtr Parser::orExpr() {
  auto l = andExpr();
  while (peek().is("OR")) {
    const int line = next().line;
    l = binary("OR", std::move(l), andExpr(), line);
  }
  return l;
}

ExprPtr Parser::andExpr() {
  auto l = notExpr();
  while (peek().is("AND")) {
    const int line = next().line;
    l = binary("AND", std::move(l), notExpr(), line);
  }
  return l;
}

ExprPtr Parser::notExpr() {
  if (peek().is("NOT")) {
    DepthGuard guard(*this, peek().line);
    const int line = next().line;
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Unary;
    e->name = "NOT";
    e->line = line;
    attach(*e, notExpr());
    return e;
  }
  if (peek().is("EXISTS")) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Exists;
    e->line = next().line;
    if (!peek().isSymbol("(") || !peek(1).is("SELECT")) syntaxError(peek());
    e->query = subqueryTokens();
    return e;
  }
  return predicate();
}

ExprPtr Parser::predicate() {
  auto l = additive();
  const Token& tk = peek();
  static const char* const comparisons[] = {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"};
  for (const char* op : comparisons) {
    if (tk.isSymbol(op)) {
      const int line = next().line;
      return binary(op, std::move(l), additive(), line);
    }
  }
  if (tk.is("IS")) {
    next();
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::IsNull;
    e->line = tk.line;
    e->negated = accept("NOT");
    expect("NULL");
    attach(*e, std::move(l));
    return e;
  }
  bool negated = false;
  if (tk.is("NOT") && (peek(1).is("LIKE") || peek(1).is("IN") || peek(1).is("BETWEEN"))) {
    next();
    negated = true;
  }
  if (peek().is("LIKE")) {
    const int line = next().line;
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Like;
    e->negated = negated;
    e->line = line;
    attach(*e, std::move(l));
    attach(*e, additive());
    if (accept("ESCAPE")) attach(*e, additive());
    return e;
  }
  if (peek().is("IN")) {
    const int line = next().line;
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::In;
    e->negated = negated;
    e->line = line;
    attach(*e, std::move(l));
    if (peek().isSymbol("(") && peek(1).is("SELECT")) {
      e->query = subqueryTokens();
      return e;
    }
    expectSymbol("(");
    do {
      attach(*e, expression());
    } while (acceptSymbol(","));
    expectSymbol(")");
    return e;
  }
  if (peek().is("BETWEEN")) {
    const int line = next().line;
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Between;
    e->negated = negated;
    e->line = line;
    attach(*e, std::move(l));
    attach(*e, additive());
    expect("AND");
    attach(*e, additive());
    return e;
  }
  if (negated) syntaxError(peek());
  return l;
}

ExprPtr Parser::additive() {
  auto l = multiplicative();
  while (peek().isSymbol("+") || peek().isSymbol("-") || peek().isSymbol("&") || peek().isSymbol("|") ||
         peek().isSymbol("^")) {
    const Token& op = next();
    l = binary(op.text, std::move(l), multiplicative(), op.line);
  }
  return l;
}

ExprPtr Parser::multiplicative() {
  auto l = unary();
  while (peek().isSymbol("*") || peek().isSymbol("/") || peek().isSymbol("%")) {
    const Token& op = next();
    l = binary(op.text, std::move(l), unary(), op.line);
  }
  return l;
}

ExprPtr Parser::unary() {
  if (peek().isSymbol("-") || peek().isSymbol("+") || peek().isSymbol("~")) {
    DepthGuard guard(*this, peek().line);
    const Token& op = next();
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Unary;
    e->name = op.text;
    e->line = op.line;
    attach(*e, unary());
    return e;
  }
  return collated();
}

// primary [COLLATE name]: the name is checked when the batch is read (448).
ExprPtr Parser::collated() {
  auto e = primary();
  while (peek().is("COLLATE")) {
    const int line = next().line;
    auto c = std::make_unique<Expr>();
    c->kind = Expr::Kind::Collate;
    c->line = line;
    c->name = collationName(peek(), opt_.serverYear);
    next();
    attach(*c, std::move(e));
    e = std::move(c);
  }
  return e;
}

ExprPtr Parser::primary() {
  const Token& tk = peek();
  auto e = std::make_unique<Expr>();
  e->line = tk.line;
  switch (tk.kind) {
    case Token::Kind::Number: {
      next();
      e->kind = Expr::Kind::Literal;
      e->hasType = true;
      const bool integral = tk.text.find_first_of(".eE") == std::string::npos;
      std::int64_t iv = 0;
      const auto [ptr, ec] = std::from_chars(tk.text.data(), tk.text.data() + tk.text.size(), iv);
      if (integral && ec == std::errc() && ptr == tk.text.data() + tk.text.size()) {
        e->literal = iv;
        e->type = (iv > 2147483647LL) ? SqlType::bigint() : SqlType::integer();
      } else {
        e->literal = std::strtod(tk.text.c_str(), nullptr);
        e->type = SqlType{SqlType::Kind::Float, 0};
      }
      return e;
    }
    case Token::Kind::String: {
      next();
      e->kind = Expr::Kind::Literal;
      e->literal = tk.text;
      e->hasType = true;
      // A literal longer than nvarchar(4000) or varchar(8000) holds is of the max type.
      if (tk.unicode) {
        const int n = std::max<int>(1, static_cast<int>(utf16Length(tk.text)));
        e->type = SqlType::nvarchar(n > 4000 ? -1 : n);
      } else {
        const int n = std::max<int>(1, static_cast<int>(serverCodePageLength(tk.text)));
        e->type = SqlType::varchar(n > 8000 ? -1 : n);
      }
      return e;
    }
    case Token::Kind::Variable:
      next();
      e->kind = Expr::Kind::Variable;
      e->name = toLowerAscii(tk.text);
      return e;
    case Token::Kind::GlobalVariable:
      next();
      e->kind = Expr::Kind::Global;
      e->name = toUpperAscii(tk.text);
      return e;
    case Token::Kind::Symbol:
      if (tk.isSymbol("(")) {
        if (peek(1).is("SELECT")) {
          e->kind = Expr::Kind::Subquery;
          e->query = subqueryTokens();
          return e;
        }
        next();
        auto inner = expression();
        expectSymbol(")");
        return inner;
      }
      syntaxError(tk);
    case Token::Kind::QuotedIdentifier:
      next();
      e->kind = Expr::Kind::Column;
      e->name = tk.text;
      while (acceptSymbol(".")) e->name = identifierText();
      return e;
    case Token::Kind::Identifier:
      break;
    case Token::Kind::End:
      syntaxError(tk);
  }
  if (tk.is("NULL")) {
    next();
    e->kind = Expr::Kind::Literal;
    e->type = SqlType::integer();
    e->hasType = true;
    return e;
  }
  if (tk.is("CASE")) return caseExpr();
  if (tk.is("CONVERT") || tk.is("TRY_CONVERT")) {
    next();
    expectSymbol("(");
    e->kind = Expr::Kind::Convert;
    e->type = typeName(true);
    e->hasType = true;
    expectSymbol(",");
    attach(*e, expression());
    if (acceptSymbol(",")) attach(*e, expression());
    expectSymbol(")");
    return e;
  }
  if (tk.is("CAST")) {
    next();
    expectSymbol("(");
    e->kind = Expr::Kind::Convert;
    attach(*e, expression());
    expect("AS");
    e->type = typeName(true);
    e->hasType = true;
    expectSymbol(")");
    return e;
  }
  static const char* const niladic[] = {"CURRENT_TIMESTAMP", "SYSTEM_USER", "CURRENT_USER", "SESSION_USER",
                                        "USER"};
  for (const char* n : niladic) {
    if (tk.is(n) && !peek(1).isSymbol("(")) {
      next();
      e->kind = Expr::Kind::Function;
      e->name = n;
      return e;
    }
  }
  if (peek(1).isSymbol("(")) {
    if (isReservedKeyword(tk.text) && !tk.is("LEFT") && !tk.is("RIGHT")) syntaxError(tk);
    next();
    next();
    e->kind = Expr::Kind::Function;
    e->name = toUpperAscii(tk.text);
    if (!peek().isSymbol(")")) {
      do {
        if (peek().isSymbol("*")) unsupported("aggregate functions without a table", tk.line);
        attach(*e, expression());
      } while (acceptSymbol(","));
    }
    expectSymbol(")");
    return e;
  }
  if (isReservedKeyword(tk.text)) syntaxError(tk);
  next();
  e->kind = Expr::Kind::Column;
  e->name = tk.text;
  while (acceptSymbol(".")) e->name = identifierText();
  return e;
}

ExprPtr Parser::caseExpr() {
  const int line = next().line;  // CASE
  auto e = std::make_unique<Expr>();
  e->kind = Expr::Kind::Case;
  e->line = line;
  if (!peek().is("WHEN")) {
    e->caseHasOperand = true;
    attach(*e, expression());
  }
  if (!peek().is("WHEN")) syntaxError(peek());
  while (accept("WHEN")) {
    attach(*e, expression());
    expect("THEN");
    attach(*e, expression());
  }
  if (accept("ELSE")) {
    e->caseHasElse = true;
    attach(*e, expression());
  }
  expect("END");
  return e;
}

StatementPtr Parser::statementAt() {
  DepthGuard guard(*this, peek().line);
  const Token& tk = peek();
  if (tk.isSymbol(";")) {
    next();
    return nullptr;
  }
  if (tk.kind != Token::Kind::Identifier) syntaxError(tk);
  const StatementReader reader = opt_.grammar ? opt_.grammar->find(tk, peek(1)) : nullptr;
  if (!reader) syntaxError(tk);
  return reader(*this);
}

bool isReservedKeyword(std::string_view word) { return inList(kReserved, word); }

SqlType parseTypeName(const std::string& name, const std::vector<int>& args, bool hasArgs, bool inConvert,
                      int line) {
  const std::string n = toLowerAscii(name);
  const int defaultLength = inConvert ? 30 : 1;
  const int len = hasArgs && !args.empty() ? args[0] : defaultLength;
  using K = SqlType::Kind;
  if (n == "int" || n == "integer") return {K::Int, 0};
  if (n == "bigint") return {K::BigInt, 0};
  if (n == "smallint") return {K::SmallInt, 0};
  if (n == "tinyint") return {K::TinyInt, 0};
  if (n == "bit") return {K::Bit, 0};
  if (n == "float" || n == "real" || n == "decimal" || n == "numeric" || n == "dec" || n == "money" ||
      n == "smallmoney")
    return {K::Float, 0};
  if (n == "varchar" || n == "char" || n == "character") return {K::VarChar, len};
  if (n == "text") return {K::VarChar, -1};
  if (n == "nvarchar" || n == "nchar") return {K::NVarChar, len};
  if (n == "ntext" || n == "xml") return {K::NVarChar, -1};
  if (n == "sysname") return {K::NVarChar, 128};
  if (n == "uniqueidentifier") return {K::NVarChar, 36};
  if (n == "sql_variant") return {K::NVarChar, 4000};
  if (n == "datetime" || n == "smalldatetime" || n == "date" || n == "datetime2" || n == "time" ||
      n == "datetimeoffset")
    return {K::DateTime, 0};
  if (n == "varbinary" || n == "binary") return {K::VarBinary, len};
  if (n == "image" || n == "timestamp" || n == "rowversion") return {K::VarBinary, -1};
  throw SqlError(2715, 16, "Column, parameter, or variable #1: Cannot find data type " + name + ".", line);
}

std::vector<StatementPtr> parseBatch(const std::vector<Token>& tokens, const ParseOptions& options) {
  if (!options.grammar) throw std::logic_error("a batch is read by a grammar");
  // SQL Server refuses an unknown collation when it compiles the batch, wherever it stands
  // (statements handed to SQLite included).
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i)
    if (tokens[i].is("COLLATE")) collationName(tokens[i + 1], options.serverYear);
  return Parser(tokens, options).batch();
}

std::vector<Declaration> parseDeclarationList(const std::vector<Token>& tokens) {
  return Parser(tokens, ParseOptions{}).declarationList();
}

}  // namespace standin::sql
