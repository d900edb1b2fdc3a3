#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>

#include "standin/base/collation.h"
#include "standin/base/text.h"
#include "standin/sql/parser.h"

namespace standin::sql {

using base::equalsIgnoreCase;
using base::serverCodePageLength;
using base::toLowerAscii;
using base::toUpperAscii;
using base::utf16Length;

namespace {

// The tallest expression tree a statement may build (see Parser::attach).
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

constexpr std::array kStatementStarters = {
    "SELECT",   "INSERT",  "UPDATE",    "DELETE", "SET",       "DECLARE", "IF",     "ELSE",     "WHILE",
    "PRINT",    "EXEC",    "EXECUTE",   "USE",    "BACKUP",    "RESTORE", "DBCC",   "CREATE",   "DROP",
    "ALTER",    "WAITFOR", "RAISERROR", "RETURN", "BEGIN",     "END",     "COMMIT", "ROLLBACK", "SAVE",
    "TRUNCATE", "GRANT",   "REVOKE",    "DENY",   "MERGE",     "OPEN",    "CLOSE",  "FETCH",    "DEALLOCATE",
    "GOTO",     "BREAK",   "CONTINUE",  "KILL",   "CHECKPOINT"};

constexpr std::array kBackupOptions = {"INIT",
                                       "NOINIT",
                                       "FORMAT",
                                       "NOFORMAT",
                                       "SKIP",
                                       "NOSKIP",
                                       "STATS",
                                       "NAME",
                                       "DESCRIPTION",
                                       "CHECKSUM",
                                       "NO_CHECKSUM",
                                       "COPY_ONLY",
                                       "COMPRESSION",
                                       "NO_COMPRESSION",
                                       "DIFFERENTIAL",
                                       "NOREWIND",
                                       "REWIND",
                                       "NOUNLOAD",
                                       "UNLOAD",
                                       "STOP_ON_ERROR",
                                       "CONTINUE_AFTER_ERROR",
                                       "MEDIANAME",
                                       "MEDIADESCRIPTION",
                                       "MEDIAPASSWORD",
                                       "PASSWORD",
                                       "EXPIREDATE",
                                       "RETAINDAYS",
                                       "BLOCKSIZE",
                                       "BUFFERCOUNT",
                                       "MAXTRANSFERSIZE",
                                       "NORECOVERY",
                                       "NO_TRUNCATE",
                                       "STANDBY",
                                       "RESTART"};

constexpr std::array kRestoreOptions = {"REPLACE",
                                        "RECOVERY",
                                        "NORECOVERY",
                                        "STANDBY",
                                        "FILE",
                                        "STATS",
                                        "MOVE",
                                        "CHECKSUM",
                                        "NO_CHECKSUM",
                                        "CONTINUE_AFTER_ERROR",
                                        "STOP_ON_ERROR",
                                        "RESTRICTED_USER",
                                        "KEEP_REPLICATION",
                                        "KEEP_CDC",
                                        "NOUNLOAD",
                                        "UNLOAD",
                                        "REWIND",
                                        "NOREWIND",
                                        "LOADHISTORY",
                                        "PASSWORD",
                                        "MEDIANAME",
                                        "MEDIAPASSWORD",
                                        "BLOCKSIZE",
                                        "BUFFERCOUNT",
                                        "MAXTRANSFERSIZE",
                                        "PARTIAL",
                                        "RESTART",
                                        "ENABLE_BROKER",
                                        "ERROR_BROKER_CONVERSATIONS",
                                        "NEW_BROKER",
                                        "STOPAT",
                                        "STOPATMARK",
                                        "STOPBEFOREMARK",
                                        "DBO_ONLY"};

constexpr std::array kSetOptions = {"NOCOUNT",
                                    "TEXTSIZE",
                                    "ANSI_NULLS",
                                    "ANSI_PADDING",
                                    "ANSI_WARNINGS",
                                    "ANSI_NULL_DFLT_ON",
                                    "ANSI_NULL_DFLT_OFF",
                                    "ANSI_DEFAULTS",
                                    "ARITHABORT",
                                    "ARITHIGNORE",
                                    "CONCAT_NULL_YIELDS_NULL",
                                    "QUOTED_IDENTIFIER",
                                    "IMPLICIT_TRANSACTIONS",
                                    "XACT_ABORT",
                                    "LOCK_TIMEOUT",
                                    "DATEFORMAT",
                                    "DATEFIRST",
                                    "LANGUAGE",
                                    "TRANSACTION",
                                    "DEADLOCK_PRIORITY",
                                    "ROWCOUNT",
                                    "NUMERIC_ROUNDABORT",
                                    "CURSOR_CLOSE_ON_COMMIT",
                                    "FMTONLY",
                                    "NOEXEC",
                                    "PARSEONLY",
                                    "STATISTICS",
                                    "SHOWPLAN_ALL",
                                    "SHOWPLAN_TEXT",
                                    "SHOWPLAN_XML",
                                    "FORCEPLAN",
                                    "QUERY_GOVERNOR_COST_LIMIT",
                                    "REMOTE_PROC_TRANSACTIONS",
                                    "CONTEXT_INFO",
                                    "NO_BROWSETABLE"};

template <std::size_t N>
bool inList(const std::array<const char*, N>& list, std::string_view word) {
  return std::any_of(list.begin(), list.end(), [&](const char* k) { return equalsIgnoreCase(k, word); });
}

// The collation a COLLATE clause names: its canonical name, or DATABASE_DEFAULT; 448 for a
// name SQL Server does not know (the stand-in knows fewer than SQL Server: base/collation.h).
std::string collationName(const Token& t, int serverYear) {
  if (t.kind != Token::Kind::Identifier && t.kind != Token::Kind::QuotedIdentifier)
    throw SqlError(102, 15, "Incorrect syntax near '" + t.text + "'.", t.line);
  if (equalsIgnoreCase(t.text, "DATABASE_DEFAULT")) return "DATABASE_DEFAULT";
  if (const auto* c = base::findCollation(t.text, serverYear)) return c->name;
  throw SqlError(448, 16, "Invalid collation '" + t.text + "'.", t.line);
}

bool startsStatement(const Token& t) {
  return t.kind == Token::Kind::Identifier && inList(kStatementStarters, t.text);
}

class Parser {
 public:
  Parser(const std::vector<Token>& tokens, ParseOptions options) : t_(tokens), opt_(options) {}

  std::vector<StatementPtr> batch() {
    std::vector<StatementPtr> out;
    // A procedure name alone at the start of a batch runs that procedure.
    if (peek().kind == Token::Kind::Identifier && !isReservedKeyword(peek().text) &&
        !startsStatement(peek()) &&
        (peek(1).kind != Token::Kind::Symbol || peek(1).isSymbol(".") || peek(1).isSymbol(";"))) {
      const std::size_t first = p_;
      out.push_back(execStatement(false));
      spanText(*out.back(), first);
    }
    while (!atEnd()) {
      if (peek().is("END") || peek().is("ELSE")) syntaxError(peek());
      auto s = statement();
      if (s) out.push_back(std::move(s));
    }
    return out;
  }

  std::vector<Declaration> declarationList() {
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

 private:
  const Token& peek(std::size_t k = 0) const { return at(p_ + k); }
  const Token& at(std::size_t i) const { return t_[std::min(i, t_.size() - 1)]; }
  const Token& next() {
    const Token& tk = t_[p_];
    if (p_ + 1 < t_.size()) ++p_;
    return tk;
  }
  bool atEnd() const { return peek().kind == Token::Kind::End; }
  bool accept(std::string_view kw) {
    if (peek().is(kw)) {
      next();
      return true;
    }
    return false;
  }
  bool acceptSymbol(std::string_view s) {
    if (peek().isSymbol(s)) {
      next();
      return true;
    }
    return false;
  }
  void expect(std::string_view kw) {
    if (!accept(kw)) syntaxError(peek());
  }
  void expectSymbol(std::string_view s) {
    if (!acceptSymbol(s)) syntaxError(peek());
  }

  [[noreturn]] void syntaxError(const Token& at) const {
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

  // BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH: statements up to the END of each.
  StatementPtr tryCatch(int line) {
    auto s = make(Statement::Kind::TryCatch, line);
    for (const char* part : {"TRY", "CATCH"}) {
      expect("BEGIN");
      expect(part);
      auto block = make(Statement::Kind::Block, peek().line);
      while (!(peek().is("END") && peek(1).is(part))) {
        if (atEnd()) syntaxError(peek());
        auto inner = statement();
        if (inner) block->body.push_back(std::move(inner));
      }
      if (block->body.empty() && std::string_view(part) == "TRY") syntaxError(peek());
      next();  // END
      next();  // TRY, CATCH
      s->body.push_back(std::move(block));
    }
    return s;
  }

  [[noreturn]] void unsupported(const std::string& what, int line) const {
    throw SqlError(50000, 16, "The stand-in server does not support " + what + ".", line);
  }

  bool atBoundary() const {
    const Token& tk = peek();
    return tk.kind == Token::Kind::End || tk.isSymbol(";") || startsStatement(tk);
  }
  void expectBoundary() {
    if (!atBoundary()) syntaxError(peek());
  }

  std::string identifierText() {
    const Token& tk = peek();
    if (tk.kind == Token::Kind::QuotedIdentifier ||
        (tk.kind == Token::Kind::Identifier && !isReservedKeyword(tk.text))) {
      next();
      return tk.text;
    }
    syntaxError(tk);
  }

  // Optional transaction or savepoint name after TRAN / COMMIT / ROLLBACK.
  void optionalTransactionName() {
    const Token& tk = peek();
    if (tk.kind == Token::Kind::Variable ||
        (tk.kind == Token::Kind::Identifier && !isReservedKeyword(tk.text) && !startsStatement(tk)) ||
        tk.kind == Token::Kind::QuotedIdentifier)
      next();
  }

  StatementPtr make(Statement::Kind kind, int line) {
    auto s = std::make_unique<Statement>();
    s->kind = kind;
    s->line = line;
    return s;
  }

  // The statement's text: from token `first` to the last one read.
  void spanText(Statement& s, std::size_t first) const {
    const std::size_t last = p_ > first ? p_ - 1 : first;
    s.textBegin = t_[first].offset;
    s.textEnd = std::max(s.textBegin, t_[last].offset + t_[last].raw.size());
  }

  StatementPtr statement() {
    const std::size_t first = p_;
    auto s = statementAt();
    if (s && s->textEnd == 0) spanText(*s, first);
    return s;
  }

  StatementPtr statementAt() {
    DepthGuard guard(*this, peek().line);
    const Token& tk = peek();
    const int line = tk.line;
    if (tk.isSymbol(";")) {
      next();
      return nullptr;
    }
    if (tk.kind != Token::Kind::Identifier) syntaxError(tk);

    if (tk.is("BEGIN")) {
      const Token& second = peek(1);
      if (second.is("TRAN") || second.is("TRANSACTION")) {
        next();
        next();
        optionalTransactionName();
        if (accept("WITH")) {
          expect("MARK");
          if (peek().kind == Token::Kind::String) next();
        }
        return make(Statement::Kind::BeginTran, line);
      }
      if (second.is("TRY") && opt_.serverYear >= 2005) return tryCatch(line);
      if (second.is("TRY") || second.is("CATCH")) syntaxError(second);
      if (second.is("DISTRIBUTED") || second.is("CONVERSATION") || second.is("DIALOG"))
        unsupported("BEGIN " + toUpperAscii(second.text), line);
      next();
      auto block = make(Statement::Kind::Block, line);
      while (!peek().is("END")) {
        if (atEnd() || peek().is("ELSE")) syntaxError(peek());
        auto inner = statement();
        if (inner) block->body.push_back(std::move(inner));
      }
      if (block->body.empty()) syntaxError(peek());
      next();  // END
      return block;
    }
    if (tk.is("COMMIT") || tk.is("ROLLBACK")) {
      const bool commit = tk.is("COMMIT");
      next();
      if (accept("TRAN") || accept("TRANSACTION") || accept("WORK")) optionalTransactionName();
      return make(commit ? Statement::Kind::CommitTran : Statement::Kind::RollbackTran, line);
    }
    if (tk.is("IF")) {
      const std::size_t first = p_;
      next();
      auto s = make(Statement::Kind::If, line);
      s->condition = expression();
      spanText(*s, first);
      auto thenPart = statement();
      if (!thenPart) syntaxError(peek());
      s->body.push_back(std::move(thenPart));
      if (accept("ELSE")) {
        auto elsePart = statement();
        if (!elsePart) syntaxError(peek());
        s->body.push_back(std::move(elsePart));
      }
      return s;
    }
    if (tk.is("DECLARE")) {
      next();
      auto s = make(Statement::Kind::Declare, line);
      do {
        Declaration d = declaration();
        if (!d.isTable && acceptSymbol("=")) d.init = expression();
        s->declarations.push_back(std::move(d));
      } while (acceptSymbol(","));
      expectBoundary();
      return s;
    }
    if (tk.is("SET")) return setStatement();
    if (tk.is("SELECT")) return selectStatement();
    if (tk.is("INSERT")) return insertStatement();
    if (tk.is("WHILE")) {
      const std::size_t first = p_;
      next();
      auto s = make(Statement::Kind::While, line);
      s->condition = expression();
      spanText(*s, first);
      ++loopDepth_;
      auto body = statement();
      --loopDepth_;
      if (!body) syntaxError(peek());
      s->body.push_back(std::move(body));
      return s;
    }
    if (tk.is("BREAK") || tk.is("CONTINUE")) {
      const bool isBreak = tk.is("BREAK");
      next();
      if (loopDepth_ == 0)
        throw SqlError(isBreak ? 135 : 136, 15,
                       std::string("Cannot use a ") + (isBreak ? "BREAK" : "CONTINUE") +
                           " statement outside the scope of a WHILE statement.",
                       line);
      expectBoundary();
      return make(isBreak ? Statement::Kind::Break : Statement::Kind::Continue, line);
    }
    if (tk.is("UPDATE")) return passthrough(StatementDone::Command::Update);
    if (tk.is("DELETE")) return passthrough(StatementDone::Command::Delete);
    if (tk.is("TRUNCATE")) {
      if (!peek(1).is("TABLE")) syntaxError(peek(1));
      return passthrough(StatementDone::Command::Delete);
    }
    if (tk.is("USE")) {
      next();
      auto s = make(Statement::Kind::Use, line);
      s->target = stringLiteral(identifierText(), line);
      expectBoundary();
      return s;
    }
    if (tk.is("PRINT")) {
      next();
      auto s = make(Statement::Kind::Print, line);
      s->value = expression();
      expectBoundary();
      return s;
    }
    if (tk.is("RAISERROR")) return raiserror();
    if (tk.is("WAITFOR")) {
      next();
      auto s = make(Statement::Kind::Waitfor, line);
      if (accept("TIME")) {
        s->waitForTime = true;
      } else {
        expect("DELAY");
      }
      s->value = expression();
      expectBoundary();
      return s;
    }
    if (tk.is("EXEC") || tk.is("EXECUTE")) return execStatement(true);
    if (tk.is("BACKUP")) return backupStatement();
    if (tk.is("RESTORE")) return restoreStatement();
    if (tk.is("DBCC")) return dbccStatement();
    if (tk.is("CREATE")) return createStatement();
    if (tk.is("DROP")) {
      if (peek(1).is("DATABASE")) {
        next();
        next();
        auto s = make(Statement::Kind::DropDatabase, line);
        s->target = stringLiteral(identifierText(), line);
        expectBoundary();
        return s;
      }
      if (peek(1).is("TABLE") || peek(1).is("INDEX") || peek(1).is("VIEW"))
        return passthrough(StatementDone::Command::Other);
      unsupported("DROP " + toUpperAscii(peek(1).text), line);
    }
    if (tk.is("ALTER")) {
      if (peek(1).is("TABLE")) return passthrough(StatementDone::Command::Other);
      if (peek(1).is("DATABASE")) return alterDatabase();
      unsupported("ALTER " + toUpperAscii(peek(1).text), line);
    }
    if (tk.is("CHECKPOINT")) {
      next();
      auto s = make(Statement::Kind::Checkpoint, line);
      if (peek().kind == Token::Kind::Number) s->value = expression();
      expectBoundary();
      return s;
    }
    if (tk.is("RETURN")) {
      next();
      auto s = make(Statement::Kind::Return, line);
      if (!atBoundary()) s->value = expression();
      expectBoundary();
      return s;
    }
    if (tk.is("SAVE") || tk.is("GOTO") || tk.is("MERGE") || tk.is("OPEN") || tk.is("CLOSE") ||
        tk.is("FETCH") || tk.is("DEALLOCATE") || tk.is("GRANT") || tk.is("REVOKE") || tk.is("DENY") ||
        tk.is("KILL"))
      unsupported("the " + toUpperAscii(tk.text) + " statement", line);
    syntaxError(tk);
  }

  Declaration declaration() {
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
  std::vector<TableColumn> tableColumns(const std::string& table) {
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

  SqlType typeName(bool inConvert) {
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

  StatementPtr setStatement() {
    const int line = next().line;  // SET
    if (peek().kind == Token::Kind::Variable) {
      auto s = make(Statement::Kind::SetVariable, line);
      s->name = toLowerAscii(next().text);
      const Token& op = peek();
      if (op.isSymbol("=") || op.isSymbol("+=") || op.isSymbol("-=") || op.isSymbol("*=") ||
          op.isSymbol("/=")) {
        s->op = op.text;
        next();
      } else {
        syntaxError(op);
      }
      s->value = expression();
      expectBoundary();
      return s;
    }
    const Token& opt = peek();
    if (opt.kind != Token::Kind::Identifier) syntaxError(opt);
    if (!inList(kSetOptions, opt.text))
      throw SqlError(195, 15, "'" + opt.text + "' is not a recognized SET option.", opt.line);
    auto s = make(Statement::Kind::SetOption, line);
    s->name = toUpperAscii(opt.text);
    next();
    while (!atBoundary()) s->tokens.push_back(next());
    return s;
  }

  // Index just past the end of a statement handed to the storage engine as it stands.
  std::size_t passthroughEnd(std::size_t start, StatementDone::Command command) const {
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

  StatementPtr passthrough(StatementDone::Command command) {
    const int line = peek().line;
    const std::size_t end = passthroughEnd(p_, command);
    if (command != StatementDone::Command::Other) checkQuery(p_, end);
    auto s = make(Statement::Kind::Passthrough, line);
    s->command = command;
    s->tokens.assign(t_.begin() + static_cast<std::ptrdiff_t>(p_),
                     t_.begin() + static_cast<std::ptrdiff_t>(end));
    p_ = end;
    return s;
  }

  // Index of the first select item of the SELECT at `select`: past ALL / DISTINCT and TOP.
  std::size_t firstSelectItem(std::size_t select) const {
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
  std::size_t closingParen(std::size_t open) const {
    int depth = 0;
    for (std::size_t i = open; i < t_.size(); ++i) {
      if (at(i).kind == Token::Kind::End) return i;
      if (at(i).isSymbol("(")) ++depth;
      if (at(i).isSymbol(")") && --depth == 0) return i;
    }
    return t_.size() - 1;
  }

  // SELECT [TOP ...] @a = expr, @b = expr FROM ...: the query without the "@v =" parts, run on
  // the storage engine; the variables take the values of each row in turn.
  StatementPtr selectAssign(std::size_t first, std::size_t from, std::size_t end) {
    const int line = at(p_).line;
    checkQuery(p_, end);
    auto s = make(Statement::Kind::SelectAssign, line);
    s->command = StatementDone::Command::Select;
    s->tokens.assign(t_.begin() + static_cast<std::ptrdiff_t>(p_),
                     t_.begin() + static_cast<std::ptrdiff_t>(first));
    std::size_t i = first;
    while (i < from) {
      if (at(i).kind != Token::Kind::Variable || !at(i + 1).isSymbol("="))
        throw SqlError(141, 15,
                       "A SELECT statement that assigns a value to a variable must not be combined with "
                       "data-retrieval operations.",
                       at(i).line);
      SelectItem item;
      item.assignTo = toLowerAscii(at(i).text);
      i += 2;
      int depth = 0;
      const std::size_t start = i;
      for (; i < from; ++i) {
        if (at(i).isSymbol("(")) ++depth;
        if (at(i).isSymbol(")")) --depth;
        if (depth == 0 && at(i).isSymbol(",")) break;
      }
      if (i == start) syntaxError(at(i));
      if (!s->items.empty()) s->tokens.push_back(comma(at(start).line));
      s->tokens.insert(s->tokens.end(), t_.begin() + static_cast<std::ptrdiff_t>(start),
                       t_.begin() + static_cast<std::ptrdiff_t>(i));
      s->items.push_back(std::move(item));
      if (i < from) ++i;  // ','
    }
    // Each row's values are computed by the storage engine before any is assigned, so an item
    // that reads a variable this SELECT assigns would see its value from before the statement.
    for (std::size_t k = first; k < from; ++k)
      if (at(k).kind == Token::Kind::Variable &&
          !(k + 1 < from && at(k + 1).isSymbol("=") && isItemStart(k, first)))
        for (const auto& item : s->items)
          if (item.assignTo == toLowerAscii(at(k).text))
            unsupported("a SELECT ... FROM that reads a variable it assigns", at(k).line);
    s->tokens.insert(s->tokens.end(), t_.begin() + static_cast<std::ptrdiff_t>(from),
                     t_.begin() + static_cast<std::ptrdiff_t>(end));
    p_ = end;
    return s;
  }

  // True when the token at k starts a select item of the list beginning at `first`.
  bool isItemStart(std::size_t k, std::size_t first) const {
    if (k == first) return true;
    int depth = 0;
    for (std::size_t i = first; i < k; ++i) {
      if (at(i).isSymbol("(")) ++depth;
      if (at(i).isSymbol(")")) --depth;
    }
    return depth == 0 && at(k - 1).isSymbol(",");
  }

  static Token comma(int line) {
    Token t;
    t.kind = Token::Kind::Symbol;
    t.text = t.raw = ",";
    t.line = line;
    return t;
  }

  // INSERT [INTO] target [(columns)] source. Into a table variable, or from EXEC, the session
  // runs it itself; anything else goes to the storage engine as it stands.
  StatementPtr insertStatement() {
    const int line = peek().line;
    std::size_t i = p_ + 1;
    if (at(i).is("INTO")) ++i;
    const bool intoVariable = at(i).kind == Token::Kind::Variable;
    std::size_t afterTarget = i + 1;
    if (!intoVariable) {
      while (afterTarget < t_.size() && at(afterTarget).isSymbol(".")) {
        ++afterTarget;
        if (afterTarget < t_.size() && !at(afterTarget).isSymbol(".")) ++afterTarget;
      }
    }
    std::size_t source = afterTarget;
    if (at(source).isSymbol("(")) source = closingParen(source) + 1;
    const bool fromExec = at(source).is("EXEC") || at(source).is("EXECUTE");
    if (!intoVariable && !fromExec) return passthrough(StatementDone::Command::Insert);

    auto s = make(Statement::Kind::Insert, line);
    s->command = StatementDone::Command::Insert;
    s->targetIsVariable = intoVariable;
    if (intoVariable) {
      s->name = toLowerAscii(at(i).text);
    } else {
      s->targetTokens.assign(t_.begin() + static_cast<std::ptrdiff_t>(i),
                             t_.begin() + static_cast<std::ptrdiff_t>(std::min(afterTarget, t_.size() - 1)));
    }
    p_ = std::min(afterTarget, t_.size() - 1);
    if (acceptSymbol("(")) {
      do {
        s->columns.push_back(identifierText());
      } while (acceptSymbol(","));
      expectSymbol(")");
    }
    if (fromExec) {
      if (intoVariable && opt_.serverYear == 2000)
        throw SqlError(197, 15, "EXECUTE cannot be used as a source when inserting into a table variable.",
                       line);
      s->insertSource = Statement::InsertSource::Exec;
      s->body.push_back(execStatement(true));
      return s;
    }
    if (peek().is("VALUES")) {
      next();
      s->insertSource = Statement::InsertSource::Values;
      do {
        if (!s->rows.empty() && opt_.serverYear < 2008) syntaxError(at(p_ - 1));
        expectSymbol("(");
        std::vector<ExprPtr> row;
        do {
          row.push_back(expression());
        } while (acceptSymbol(","));
        expectSymbol(")");
        s->rows.push_back(std::move(row));
      } while (acceptSymbol(","));
      expectBoundary();
      return s;
    }
    if (peek().is("DEFAULT") && peek(1).is("VALUES"))
      unsupported("DEFAULT VALUES into a table variable", line);
    if (!peek().is("SELECT")) syntaxError(peek());
    const std::size_t end = passthroughEnd(p_, StatementDone::Command::Select);
    checkQuery(p_, end);
    s->insertSource = Statement::InsertSource::Query;
    s->tokens.assign(t_.begin() + static_cast<std::ptrdiff_t>(p_),
                     t_.begin() + static_cast<std::ptrdiff_t>(end));
    p_ = end;
    return s;
  }

  // What SQL Server refuses in a query that the storage engine would take: windowed functions
  // the release does not have, and ORDER BY in a subquery or derived table without TOP.
  void checkQuery(std::size_t begin, std::size_t end) const {
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
  void checkWindow(std::size_t over) const {
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
  void checkSubqueryOrder(std::size_t open) const {
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

  StatementPtr selectStatement() {
    const std::size_t end = passthroughEnd(p_, StatementDone::Command::Select);
    int depth = 0;
    for (std::size_t i = p_; i < end; ++i) {
      if (t_[i].isSymbol("(")) ++depth;
      if (t_[i].isSymbol(")")) --depth;
      if (depth == 0 && (t_[i].is("FROM") || t_[i].is("UNION") || t_[i].is("INTO"))) {
        const std::size_t first = firstSelectItem(p_);
        if (first + 1 < end && t_[first].kind == Token::Kind::Variable && t_[first + 1].isSymbol("="))
          return selectAssign(first, i, end);
        checkQuery(p_, end);
        return passthrough(StatementDone::Command::Select);
      }
    }
    const int line = next().line;  // SELECT
    auto s = make(Statement::Kind::Select, line);
    s->command = StatementDone::Command::Select;
    accept("ALL");
    accept("DISTINCT");
    do {
      SelectItem item;
      const Token& a = peek();
      if (a.kind == Token::Kind::Variable && peek(1).isSymbol("=")) {
        item.assignTo = toLowerAscii(a.text);
        next();
        next();
        item.expr = expression();
      } else if ((a.kind == Token::Kind::QuotedIdentifier || a.kind == Token::Kind::String ||
                  (a.kind == Token::Kind::Identifier && !isReservedKeyword(a.text))) &&
                 peek(1).isSymbol("=")) {
        item.alias = a.text;
        item.hasAlias = true;
        next();
        next();
        item.expr = expression();
      } else if (a.isSymbol("*")) {
        throw SqlError(263, 16, "Must specify table to select from.", a.line);
      } else {
        item.expr = expression();
        if (accept("AS")) {
          const Token& n = peek();
          if (n.kind == Token::Kind::String || n.kind == Token::Kind::QuotedIdentifier ||
              n.kind == Token::Kind::Identifier) {
            item.alias = n.text;
            item.hasAlias = true;
            next();
          } else {
            syntaxError(n);
          }
        } else {
          const Token& n = peek();
          if (n.kind == Token::Kind::String || n.kind == Token::Kind::QuotedIdentifier ||
              (n.kind == Token::Kind::Identifier && !isReservedKeyword(n.text) && !startsStatement(n))) {
            item.alias = n.text;
            item.hasAlias = true;
            next();
          }
        }
      }
      s->items.push_back(std::move(item));
    } while (acceptSymbol(","));
    if (accept("WHERE")) s->condition = expression();
    expectBoundary();
    const bool anyAssign = std::any_of(s->items.begin(), s->items.end(),
                                       [](const SelectItem& i) { return !i.assignTo.empty(); });
    const bool allAssign = std::all_of(s->items.begin(), s->items.end(),
                                       [](const SelectItem& i) { return !i.assignTo.empty(); });
    if (anyAssign && !allAssign)
      throw SqlError(
          141, 15,
          "A SELECT statement that assigns a value to a variable must not be combined with data-retrieval "
          "operations.",
          line);
    return s;
  }

  StatementPtr raiserror() {
    const int line = next().line;
    auto s = make(Statement::Kind::Raiserror, line);
    expectSymbol("(");
    s->values.push_back(expression());
    while (acceptSymbol(",")) s->values.push_back(expression());
    expectSymbol(")");
    if (s->values.size() < 3) syntaxError(peek());
    if (accept("WITH")) {
      do {
        const Token& o = peek();
        if (!(o.is("LOG") || o.is("NOWAIT") || o.is("SETERROR"))) syntaxError(o);
        next();
      } while (acceptSymbol(","));
    }
    expectBoundary();
    return s;
  }

  // Procedure arguments may be bare identifiers standing for strings (EXEC sp_helpdb master).
  ExprPtr procedureArgument() {
    const Token& a = peek();
    if ((a.kind == Token::Kind::Identifier && !isReservedKeyword(a.text) && !peek(1).isSymbol("(") &&
         !peek(1).isSymbol(".")) ||
        a.kind == Token::Kind::QuotedIdentifier) {
      next();
      return stringLiteral(a.text, a.line);
    }
    return expression();
  }

  StatementPtr execStatement(bool hasKeyword) {
    const int line = peek().line;
    if (hasKeyword) next();
    if (peek().isSymbol("(")) {
      next();
      auto s = make(Statement::Kind::ExecString, line);
      s->value = expression();
      expectSymbol(")");
      expectBoundary();
      return s;
    }
    auto s = make(Statement::Kind::Exec, line);
    if (peek().kind == Token::Kind::Variable && peek(1).isSymbol("=")) {
      s->returnVariable = toLowerAscii(next().text);
      next();
    }
    if (peek().kind == Token::Kind::Variable)
      unsupported("EXECUTE with a procedure name in a variable", line);
    // [server.][database.][schema.]procedure
    std::vector<std::string> parts;
    parts.push_back(identifierText());
    while (acceptSymbol(".")) {
      if (peek().isSymbol(".")) {
        parts.emplace_back();
        continue;
      }
      parts.push_back(identifierText());
    }
    s->name = parts.back();
    if (parts.size() >= 3) s->op = parts[parts.size() - 3];  // database qualifier
    while (!atBoundary()) {
      ExecArg arg;
      if (peek().kind == Token::Kind::Variable && peek(1).isSymbol("=")) {
        arg.name = toLowerAscii(next().text);
        next();
      }
      if (accept("DEFAULT")) {
        arg.isDefault = true;
      } else {
        arg.value = procedureArgument();
      }
      if (accept("OUTPUT") || accept("OUT")) arg.output = true;
      s->args.push_back(std::move(arg));
      if (!acceptSymbol(",")) break;
    }
    expectBoundary();
    return s;
  }

  ExprPtr databaseName() {
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

  // TO|FROM DISK = expr [, DISK = expr ...]; the first device goes to value, the count to values.
  void devices(Statement& s) {
    int count = 0;
    do {
      const Token& kind = peek();
      if (kind.is("DISK")) {
        next();
        expectSymbol("=");
        auto e = expression();
        if (!s.value) s.value = std::move(e);
        ++count;
      } else if (kind.is("TAPE") || kind.is("URL")) {
        unsupported("backup devices other than DISK", kind.line);
      } else if (kind.kind == Token::Kind::Identifier || kind.kind == Token::Kind::QuotedIdentifier) {
        unsupported("logical backup devices", kind.line);
      } else {
        syntaxError(kind);
      }
    } while (acceptSymbol(","));
    if (count > 1) unsupported("striped backup media (more than one DISK)", s.line);
  }

  // The release an option of BACKUP or RESTORE came with.
  static int optionSince(const std::string& upper) {
    if (upper == "COMPRESSION" || upper == "NO_COMPRESSION") return 2008;
    if (upper == "COPY_ONLY" || upper == "CHECKSUM" || upper == "NO_CHECKSUM" || upper == "STOP_ON_ERROR" ||
        upper == "CONTINUE_AFTER_ERROR" || upper == "BUFFERCOUNT" || upper == "MAXTRANSFERSIZE" ||
        upper == "KEEP_CDC")
      return upper == "KEEP_CDC" ? 2008 : 2005;
    return 2000;
  }

  template <std::size_t N>
  void withOptions(Statement& s, const std::array<const char*, N>& known, const char* what,
                   bool truncateOnlyKnown) {
    do {
      const Token& o = peek();
      if (o.kind != Token::Kind::Identifier) syntaxError(o);
      const std::string upper = toUpperAscii(o.text);
      const bool isTruncate = upper == "TRUNCATE_ONLY" || upper == "NO_LOG";
      if (!(inList(known, upper) || (isTruncate && truncateOnlyKnown)) ||
          opt_.serverYear < optionSince(upper))
        throw SqlError(155, 15, "'" + o.text + "' is not a recognized " + what + " option.", o.line);
      next();
      OptionItem item;
      item.name = upper;
      if (upper == "MOVE") {
        item.value = expression();
        expect("TO");
        item.value2 = expression();
      } else if (acceptSymbol("=")) {
        item.value = expression();
      }
      s.options.push_back(std::move(item));
    } while (acceptSymbol(","));
  }

  StatementPtr backupStatement() {
    const int line = next().line;  // BACKUP
    auto s = make(Statement::Kind::BackupDatabase, line);
    if (accept("LOG")) {
      s->kind = Statement::Kind::BackupLog;
    } else if (!accept("DATABASE")) {
      if (peek().is("CERTIFICATE") || peek().is("MASTER") || peek().is("SERVICE"))
        unsupported("BACKUP " + toUpperAscii(peek().text), line);
      syntaxError(peek());
    }
    s->target = databaseName();
    if (peek().is("FILE") || peek().is("FILEGROUP") || peek().is("READ_WRITE_FILEGROUPS"))
      unsupported("file and filegroup backups", line);
    if (accept("TO")) devices(*s);
    if (accept("WITH")) withOptions(*s, kBackupOptions, "BACKUP", opt_.serverYear <= 2005);
    if (s->kind == Statement::Kind::BackupDatabase && !s->value) syntaxError(peek());
    if (s->kind == Statement::Kind::BackupLog && !s->value && !s->option("TRUNCATE_ONLY") &&
        !s->option("NO_LOG"))
      syntaxError(peek());
    expectBoundary();
    return s;
  }

  StatementPtr restoreStatement() {
    const int line = next().line;  // RESTORE
    auto s = make(Statement::Kind::RestoreDatabase, line);
    if (peek().is("DATABASE") || peek().is("LOG")) {
      if (next().is("LOG")) s->kind = Statement::Kind::RestoreLog;
      s->target = databaseName();
      if (peek().is("FILE") || peek().is("FILEGROUP") || peek().is("PAGE"))
        unsupported("piecemeal restores", line);
      // RESTORE DATABASE x WITH RECOVERY brings a restoring database online; no device.
      if (s->kind == Statement::Kind::RestoreDatabase && peek().is("WITH")) {
        next();
        withOptions(*s, kRestoreOptions, "RESTORE", false);
        expectBoundary();
        return s;
      }
    } else if (accept("VERIFYONLY")) {
      s->kind = Statement::Kind::RestoreVerify;
    } else if (accept("HEADERONLY")) {
      s->kind = Statement::Kind::RestoreHeaderOnly;
    } else if (accept("FILELISTONLY")) {
      s->kind = Statement::Kind::RestoreFileListOnly;
    } else if (peek().is("LABELONLY") || peek().is("REWINDONLY")) {
      unsupported("RESTORE " + toUpperAscii(peek().text), line);
    } else {
      syntaxError(peek());
    }
    expect("FROM");
    devices(*s);
    if (accept("WITH")) withOptions(*s, kRestoreOptions, "RESTORE", false);
    expectBoundary();
    return s;
  }

  // ALTER DATABASE name SET RECOVERY FULL | SIMPLE | BULK_LOGGED [WITH NO_WAIT | ROLLBACK ...]:
  // the one form the stand-in carries out; every other is refused, never half done.
  StatementPtr alterDatabase() {
    const int line = next().line;  // ALTER
    next();                        // DATABASE
    auto s = make(Statement::Kind::AlterDatabase, line);
    if (peek().is("CURRENT") && opt_.serverYear >= 2012) {
      next();
    } else {
      s->target = databaseName();
    }
    if (!peek().is("SET") || !peek(1).is("RECOVERY")) {
      std::string rest;
      while (!atBoundary()) rest += (rest.empty() ? "" : " ") + toUpperAscii(next().text);
      unsupported("ALTER DATABASE ... " + rest.substr(0, 60) + " (only SET RECOVERY)", line);
    }
    next();
    next();
    const Token& model = peek();
    if (!(model.is("FULL") || model.is("SIMPLE") || model.is("BULK_LOGGED"))) syntaxError(model);
    s->name = "RECOVERY";
    s->op = toUpperAscii(next().text);
    if (peek().isSymbol(",")) unsupported("ALTER DATABASE with more than one option", line);
    // The termination clause only matters to options that need the database to themselves.
    if (accept("WITH")) {
      if (accept("NO_WAIT")) {
      } else if (accept("ROLLBACK")) {
        if (accept("AFTER")) {
          if (peek().kind != Token::Kind::Number) syntaxError(peek());
          next();
          accept("SECONDS");
        } else {
          expect("IMMEDIATE");
        }
      } else {
        syntaxError(peek());
      }
    }
    expectBoundary();
    return s;
  }

  StatementPtr dbccStatement() {
    const int line = next().line;  // DBCC
    const Token& cmd = peek();
    if (cmd.kind != Token::Kind::Identifier) syntaxError(cmd);
    next();
    auto s = make(Statement::Kind::Dbcc, line);
    s->name = toUpperAscii(cmd.text);
    if (acceptSymbol("(")) {
      if (!peek().isSymbol(")")) {
        do {
          s->values.push_back(procedureArgument());
        } while (acceptSymbol(","));
      }
      expectSymbol(")");
    }
    if (accept("WITH")) {
      do {
        const Token& o = peek();
        if (o.kind != Token::Kind::Identifier) syntaxError(o);
        OptionItem item;
        item.name = toUpperAscii(o.text);
        next();
        s->options.push_back(std::move(item));
      } while (acceptSymbol(","));
    }
    expectBoundary();
    if (s->name == "SHRINKDATABASE") {
      s->kind = Statement::Kind::DbccShrinkDatabase;
      if (s->values.empty()) syntaxError(peek());
    }
    return s;
  }

  StatementPtr createStatement() {
    const int line = peek().line;
    const Token& what = peek(1);
    if (what.is("DATABASE")) {
      next();
      next();
      auto s = make(Statement::Kind::CreateDatabase, line);
      s->target = stringLiteral(identifierText(), line);
      // ON / LOG ON clauses describe files the stand-in chooses itself; COLLATE names the
      // database's collation (Statement::name).
      int depth = 0;
      while (!atEnd() && (depth > 0 || !atBoundary())) {
        if (peek().isSymbol("(")) ++depth;
        if (peek().isSymbol(")")) --depth;
        if (depth == 0 && peek().is("COLLATE")) {
          next();
          s->name = collationName(peek(), opt_.serverYear);
          if (s->name == "DATABASE_DEFAULT") syntaxError(peek());
        }
        next();
      }
      return s;
    }
    if (what.is("TABLE") || what.is("INDEX") || what.is("UNIQUE") || what.is("VIEW") ||
        what.is("CLUSTERED") || what.is("NONCLUSTERED"))
      return passthrough(StatementDone::Command::Other);
    unsupported("CREATE " + toUpperAscii(what.text), line);
  }

  // ---- expressions ----

  ExprPtr stringLiteral(const std::string& text, int line) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Literal;
    e->literal = text;
    e->type = SqlType::nvarchar(std::max<int>(1, static_cast<int>(utf16Length(text))));
    e->hasType = true;
    e->line = line;
    return e;
  }

  ExprPtr binary(std::string op, ExprPtr l, ExprPtr r, int line) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Binary;
    e->name = std::move(op);
    e->line = line;
    attach(*e, std::move(l));
    attach(*e, std::move(r));
    return e;
  }

  [[noreturn]] static void nestedTooDeeply(int line) {
    throw SqlError(
        191, 15,
        "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up into "
        "smaller queries.",
        line);
  }

  // An operand joins its node. A chain of operators (1+1+1...) is as deep a tree as it is long,
  // and chains nest, so the tree's height is bounded as well as the parser's own recursion:
  // evaluating and freeing the tree recurse that deep on the session's stack.
  static void attach(Expr& parent, ExprPtr child) {
    parent.height = std::max(parent.height, child->height + 1);
    if (parent.height > kMaxExpressionHeight) nestedTooDeeply(parent.line);
    parent.args.push_back(std::move(child));
  }

  // SQL Server refuses nesting beyond its limits; so does the stand-in, before the stack runs out.
  struct DepthGuard {
    explicit DepthGuard(Parser& p, int line) : parser(p) {
      if (++parser.depth_ > 128) nestedTooDeeply(line);
    }
    ~DepthGuard() { --parser.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    Parser& parser;
  };

  // ( SELECT ... ): the SELECT's tokens, checked as any query; the parentheses are read.
  std::vector<Token> subqueryTokens() {
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

  ExprPtr expression() {
    DepthGuard guard(*this, peek().line);
    return orExpr();
  }

  ExprPtr orExpr() {
    auto l = andExpr();
    while (peek().is("OR")) {
      const int line = next().line;
      l = binary("OR", std::move(l), andExpr(), line);
    }
    return l;
  }

  ExprPtr andExpr() {
    auto l = notExpr();
    while (peek().is("AND")) {
      const int line = next().line;
      l = binary("AND", std::move(l), notExpr(), line);
    }
    return l;
  }

  ExprPtr notExpr() {
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

  ExprPtr predicate() {
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

  ExprPtr additive() {
    auto l = multiplicative();
    while (peek().isSymbol("+") || peek().isSymbol("-") || peek().isSymbol("&") || peek().isSymbol("|") ||
           peek().isSymbol("^")) {
      const Token& op = next();
      l = binary(op.text, std::move(l), multiplicative(), op.line);
    }
    return l;
  }

  ExprPtr multiplicative() {
    auto l = unary();
    while (peek().isSymbol("*") || peek().isSymbol("/") || peek().isSymbol("%")) {
      const Token& op = next();
      l = binary(op.text, std::move(l), unary(), op.line);
    }
    return l;
  }

  ExprPtr unary() {
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
  ExprPtr collated() {
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

  ExprPtr primary() {
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

  ExprPtr caseExpr() {
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

  const std::vector<Token>& t_;
  ParseOptions opt_;
  std::size_t p_ = 0;
  int depth_ = 0;
  int loopDepth_ = 0;  // WHILE statements around the one being read
};

}  // namespace

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
