#include "standin/sql/statements.h"

#include <algorithm>
#include <array>

#include "standin/base/text.h"

namespace standin::sql {

using base::equalsIgnoreCase;
using base::toLowerAscii;
using base::toUpperAscii;

namespace {

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

bool isSetOption(std::string_view word) {
  return std::any_of(kSetOptions.begin(), kSetOptions.end(),
                     [&](const char* k) { return equalsIgnoreCase(k, word); });
}

// Optional transaction or savepoint name after TRAN / COMMIT / ROLLBACK.
void optionalTransactionName(Parser& p) {
  const Token& tk = p.peek();
  if (tk.kind == Token::Kind::Variable ||
      (tk.kind == Token::Kind::Identifier && !isReservedKeyword(tk.text) && !p.startsStatement(tk)) ||
      tk.kind == Token::Kind::QuotedIdentifier)
    p.next();
}

// A statement the storage engine runs as it stands, from here to its end.
std::unique_ptr<Passthrough> passthrough(Parser& p, StatementDone::Command command) {
  const int line = p.peek().line;
  const std::size_t from = p.position();
  const std::size_t end = p.passthroughEnd(from, command);
  if (command != StatementDone::Command::Other) p.checkQuery(from, end);
  auto s = Parser::make<Passthrough>(line);
  s->command = command;
  const auto& t = p.tokens();
  s->tokens.assign(t.begin() + static_cast<std::ptrdiff_t>(from), t.begin() + static_cast<std::ptrdiff_t>(end));
  p.seek(end);
  return s;
}

// True when the token at k starts a select item of the list beginning at `first`.
bool isItemStart(const Parser& p, std::size_t k, std::size_t first) {
  if (k == first) return true;
  int depth = 0;
  for (std::size_t i = first; i < k; ++i) {
    if (p.at(i).isSymbol("(")) ++depth;
    if (p.at(i).isSymbol(")")) --depth;
  }
  return depth == 0 && p.at(k - 1).isSymbol(",");
}

Token comma(int line) {
  Token t;
  t.kind = Token::Kind::Symbol;
  t.text = t.raw = ",";
  t.line = line;
  return t;
}

// SELECT [TOP ...] @a = expr, @b = expr FROM ...: the query without the "@v =" parts, run on
// the storage engine; the variables take the values of each row in turn.
StatementPtr selectAssign(Parser& p, std::size_t first, std::size_t from, std::size_t end) {
  const auto& t = p.tokens();
  const std::size_t start = p.position();
  const int line = p.at(start).line;
  p.checkQuery(start, end);
  auto s = Parser::make<SelectAssign>(line);
  s->tokens.assign(t.begin() + static_cast<std::ptrdiff_t>(start), t.begin() + static_cast<std::ptrdiff_t>(first));
  std::size_t i = first;
  while (i < from) {
    if (p.at(i).kind != Token::Kind::Variable || !p.at(i + 1).isSymbol("="))
      throw SqlError(141, 15,
                     "A SELECT statement that assigns a value to a variable must not be combined with "
                     "data-retrieval operations.",
                     p.at(i).line);
    SelectItem item;
    item.assignTo = toLowerAscii(p.at(i).text);
    i += 2;
    int depth = 0;
    const std::size_t itemStart = i;
    for (; i < from; ++i) {
      if (p.at(i).isSymbol("(")) ++depth;
      if (p.at(i).isSymbol(")")) --depth;
      if (depth == 0 && p.at(i).isSymbol(",")) break;
    }
    if (i == itemStart) p.syntaxError(p.at(i));
    if (!s->items.empty()) s->tokens.push_back(comma(p.at(itemStart).line));
    s->tokens.insert(s->tokens.end(), t.begin() + static_cast<std::ptrdiff_t>(itemStart),
                     t.begin() + static_cast<std::ptrdiff_t>(i));
    s->items.push_back(std::move(item));
    if (i < from) ++i;  // ','
  }
  // Each row's values are computed by the storage engine before any is assigned, so an item
  // that reads a variable this SELECT assigns would see its value from before the statement.
  for (std::size_t k = first; k < from; ++k)
    if (p.at(k).kind == Token::Kind::Variable &&
        !(k + 1 < from && p.at(k + 1).isSymbol("=") && isItemStart(p, k, first)))
      for (const auto& item : s->items)
        if (item.assignTo == toLowerAscii(p.at(k).text))
          p.unsupported("a SELECT ... FROM that reads a variable it assigns", p.at(k).line);
  s->tokens.insert(s->tokens.end(), t.begin() + static_cast<std::ptrdiff_t>(from),
                   t.begin() + static_cast<std::ptrdiff_t>(end));
  p.seek(end);
  return s;
}

std::unique_ptr<Exec> readExecCall(Parser& p, int line) {
  auto s = Parser::make<Exec>(line);
  if (p.peek().kind == Token::Kind::Variable && p.peek(1).isSymbol("=")) {
    s->returnVariable = toLowerAscii(p.next().text);
    p.next();
  }
  if (p.peek().kind == Token::Kind::Variable) p.unsupported("EXECUTE with a procedure name in a variable", line);
  // [server.][database.][schema.]procedure
  std::vector<std::string> parts;
  parts.push_back(p.identifierText());
  while (p.acceptSymbol(".")) {
    if (p.peek().isSymbol(".")) {
      parts.emplace_back();
      continue;
    }
    parts.push_back(p.identifierText());
  }
  s->name = parts.back();
  if (parts.size() >= 3) s->database = parts[parts.size() - 3];
  while (!p.atBoundary()) {
    ExecArg arg;
    if (p.peek().kind == Token::Kind::Variable && p.peek(1).isSymbol("=")) {
      arg.name = toLowerAscii(p.next().text);
      p.next();
    }
    if (p.accept("DEFAULT")) {
      arg.isDefault = true;
    } else {
      arg.value = p.procedureArgument();
    }
    if (p.accept("OUTPUT") || p.accept("OUT")) arg.output = true;
    s->args.push_back(std::move(arg));
    if (!p.acceptSymbol(",")) break;
  }
  p.expectBoundary();
  return s;
}

}  // namespace

StatementPtr readBlock(Parser& p) {
  const int line = p.next().line;  // BEGIN
  auto block = Parser::make<Block>(line);
  while (!p.peek().is("END")) {
    if (p.atEnd() || p.peek().is("ELSE")) p.syntaxError(p.peek());
    auto inner = p.statement();
    if (inner) block->body.push_back(std::move(inner));
  }
  if (block->body.empty()) p.syntaxError(p.peek());
  p.next();  // END
  return block;
}

StatementPtr readBeginTransaction(Parser& p) {
  const int line = p.next().line;  // BEGIN
  p.next();                        // TRAN, TRANSACTION
  optionalTransactionName(p);
  if (p.accept("WITH")) {
    p.expect("MARK");
    if (p.peek().kind == Token::Kind::String) p.next();
  }
  return Parser::make<BeginTransaction>(line);
}

StatementPtr readTryCatch(Parser& p) {
  const int line = p.peek().line;
  if (!p.peek(1).is("TRY") || p.serverYear() < 2005) p.syntaxError(p.peek(1));  // no TRY before 2005
  auto s = Parser::make<TryCatch>(line);
  // BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH: statements up to the END of each.
  for (const char* part : {"TRY", "CATCH"}) {
    p.expect("BEGIN");
    p.expect(part);
    auto block = Parser::make<Block>(p.peek().line);
    while (!(p.peek().is("END") && p.peek(1).is(part))) {
      if (p.atEnd()) p.syntaxError(p.peek());
      auto inner = p.statement();
      if (inner) block->body.push_back(std::move(inner));
    }
    if (block->body.empty() && std::string_view(part) == "TRY") p.syntaxError(p.peek());
    p.next();  // END
    p.next();  // TRY, CATCH
    (s->tryBlock ? s->catchBlock : s->tryBlock) = std::move(block);
  }
  return s;
}

StatementPtr refuseBegin(Parser& p) {
  p.unsupported("BEGIN " + toUpperAscii(p.peek(1).text), p.peek().line);
}

StatementPtr readCommit(Parser& p) {
  const int line = p.next().line;
  if (p.accept("TRAN") || p.accept("TRANSACTION") || p.accept("WORK")) optionalTransactionName(p);
  return Parser::make<CommitTransaction>(line);
}

StatementPtr readRollback(Parser& p) {
  const int line = p.next().line;
  if (p.accept("TRAN") || p.accept("TRANSACTION") || p.accept("WORK")) optionalTransactionName(p);
  return Parser::make<RollbackTransaction>(line);
}

StatementPtr readIf(Parser& p) {
  const std::size_t first = p.position();
  const int line = p.next().line;
  auto s = Parser::make<If>(line);
  s->condition = p.expression();
  p.spanText(*s, first);
  s->then = p.statement();
  if (!s->then) p.syntaxError(p.peek());
  if (p.accept("ELSE")) {
    s->otherwise = p.statement();
    if (!s->otherwise) p.syntaxError(p.peek());
  }
  return s;
}

StatementPtr readWhile(Parser& p) {
  const std::size_t first = p.position();
  const int line = p.next().line;
  auto s = Parser::make<While>(line);
  s->condition = p.expression();
  p.spanText(*s, first);
  {
    const Parser::InLoop loop(p);
    s->body = p.statement();
  }
  if (!s->body) p.syntaxError(p.peek());
  return s;
}

namespace {

// BREAK and CONTINUE belong inside a WHILE.
template <typename Jump>
StatementPtr readJump(Parser& p, bool isBreak) {
  const int line = p.next().line;
  if (!p.inLoop())
    throw SqlError(isBreak ? 135 : 136, 15,
                   std::string("Cannot use a ") + (isBreak ? "BREAK" : "CONTINUE") +
                       " statement outside the scope of a WHILE statement.",
                   line);
  p.expectBoundary();
  return Parser::make<Jump>(line);
}

}  // namespace

StatementPtr readBreak(Parser& p) { return readJump<Break>(p, true); }
StatementPtr readContinue(Parser& p) { return readJump<Continue>(p, false); }

StatementPtr readReturn(Parser& p) {
  const int line = p.next().line;
  auto s = Parser::make<Return>(line);
  if (!p.atBoundary()) s->value = p.expression();
  p.expectBoundary();
  return s;
}

StatementPtr readDeclare(Parser& p) {
  const int line = p.next().line;
  auto s = Parser::make<Declare>(line);
  do {
    Declaration d = p.declaration();
    if (!d.isTable && p.acceptSymbol("=")) d.init = p.expression();
    s->declarations.push_back(std::move(d));
  } while (p.acceptSymbol(","));
  p.expectBoundary();
  return s;
}

StatementPtr readSet(Parser& p) {
  const int line = p.next().line;  // SET
  if (p.peek().kind == Token::Kind::Variable) {
    auto s = Parser::make<SetVariable>(line);
    s->name = toLowerAscii(p.next().text);
    const Token& op = p.peek();
    if (op.isSymbol("=") || op.isSymbol("+=") || op.isSymbol("-=") || op.isSymbol("*=") || op.isSymbol("/=")) {
      s->op = op.text;
      p.next();
    } else {
      p.syntaxError(op);
    }
    s->value = p.expression();
    p.expectBoundary();
    return s;
  }
  const Token& opt = p.peek();
  if (opt.kind != Token::Kind::Identifier) p.syntaxError(opt);
  if (!isSetOption(opt.text))
    throw SqlError(195, 15, "'" + opt.text + "' is not a recognized SET option.", opt.line);
  auto s = Parser::make<SetOption>(line);
  s->name = toUpperAscii(opt.text);
  p.next();
  while (!p.atBoundary()) s->tokens.push_back(p.next());
  return s;
}

StatementPtr readSelect(Parser& p) {
  const auto& t = p.tokens();
  const std::size_t start = p.position();
  const std::size_t end = p.passthroughEnd(start, StatementDone::Command::Select);
  int depth = 0;
  for (std::size_t i = start; i < end; ++i) {
    if (t[i].isSymbol("(")) ++depth;
    if (t[i].isSymbol(")")) --depth;
    if (depth == 0 && (t[i].is("FROM") || t[i].is("UNION") || t[i].is("INTO"))) {
      const std::size_t first = p.firstSelectItem(start);
      if (first + 1 < end && t[first].kind == Token::Kind::Variable && t[first + 1].isSymbol("="))
        return selectAssign(p, first, i, end);
      p.checkQuery(start, end);
      return passthrough(p, StatementDone::Command::Select);
    }
  }
  const int line = p.next().line;  // SELECT
  auto s = Parser::make<SelectWithoutTable>(line);
  p.accept("ALL");
  p.accept("DISTINCT");
  do {
    SelectItem item;
    const Token& a = p.peek();
    if (a.kind == Token::Kind::Variable && p.peek(1).isSymbol("=")) {
      item.assignTo = toLowerAscii(a.text);
      p.next();
      p.next();
      item.expr = p.expression();
    } else if ((a.kind == Token::Kind::QuotedIdentifier || a.kind == Token::Kind::String ||
                (a.kind == Token::Kind::Identifier && !isReservedKeyword(a.text))) &&
               p.peek(1).isSymbol("=")) {
      item.alias = a.text;
      item.hasAlias = true;
      p.next();
      p.next();
      item.expr = p.expression();
    } else if (a.isSymbol("*")) {
      throw SqlError(263, 16, "Must specify table to select from.", a.line);
    } else {
      item.expr = p.expression();
      if (p.accept("AS")) {
        const Token& n = p.peek();
        if (n.kind == Token::Kind::String || n.kind == Token::Kind::QuotedIdentifier ||
            n.kind == Token::Kind::Identifier) {
          item.alias = n.text;
          item.hasAlias = true;
          p.next();
        } else {
          p.syntaxError(n);
        }
      } else {
        const Token& n = p.peek();
        if (n.kind == Token::Kind::String || n.kind == Token::Kind::QuotedIdentifier ||
            (n.kind == Token::Kind::Identifier && !isReservedKeyword(n.text) && !p.startsStatement(n))) {
          item.alias = n.text;
          item.hasAlias = true;
          p.next();
        }
      }
    }
    s->items.push_back(std::move(item));
  } while (p.acceptSymbol(","));
  if (p.accept("WHERE")) s->condition = p.expression();
  p.expectBoundary();
  const bool anyAssign =
      std::any_of(s->items.begin(), s->items.end(), [](const SelectItem& i) { return !i.assignTo.empty(); });
  const bool allAssign =
      std::all_of(s->items.begin(), s->items.end(), [](const SelectItem& i) { return !i.assignTo.empty(); });
  if (anyAssign && !allAssign)
    throw SqlError(
        141, 15,
        "A SELECT statement that assigns a value to a variable must not be combined with data-retrieval "
        "operations.",
        line);
  return s;
}

// INSERT [INTO] target [(columns)] source. Into a table variable, or from EXEC, the session
// runs it itself; anything else goes to the storage engine as it stands.
StatementPtr readInsert(Parser& p) {
  const auto& t = p.tokens();
  const int line = p.peek().line;
  std::size_t i = p.position() + 1;
  if (p.at(i).is("INTO")) ++i;
  const bool intoVariable = p.at(i).kind == Token::Kind::Variable;
  std::size_t afterTarget = i + 1;
  if (!intoVariable) {
    while (afterTarget < t.size() && p.at(afterTarget).isSymbol(".")) {
      ++afterTarget;
      if (afterTarget < t.size() && !p.at(afterTarget).isSymbol(".")) ++afterTarget;
    }
  }
  std::size_t source = afterTarget;
  if (p.at(source).isSymbol("(")) source = p.closingParen(source) + 1;
  const bool fromExec = p.at(source).is("EXEC") || p.at(source).is("EXECUTE");
  if (!intoVariable && !fromExec) return passthrough(p, StatementDone::Command::Insert);

  auto s = Parser::make<Insert>(line);
  s->targetIsVariable = intoVariable;
  if (intoVariable) {
    s->variable = toLowerAscii(p.at(i).text);
  } else {
    s->targetTokens.assign(t.begin() + static_cast<std::ptrdiff_t>(i),
                           t.begin() + static_cast<std::ptrdiff_t>(std::min(afterTarget, t.size() - 1)));
  }
  p.seek(afterTarget);
  if (p.acceptSymbol("(")) {
    do {
      s->columns.push_back(p.identifierText());
    } while (p.acceptSymbol(","));
    p.expectSymbol(")");
  }
  if (fromExec) {
    if (intoVariable && p.serverYear() == 2000)
      throw SqlError(197, 15, "EXECUTE cannot be used as a source when inserting into a table variable.", line);
    s->source = Insert::Source::Exec;
    s->exec = readExec(p);
    return s;
  }
  if (p.peek().is("VALUES")) {
    p.next();
    s->source = Insert::Source::Values;
    do {
      if (!s->rows.empty() && p.serverYear() < 2008) p.syntaxError(p.at(p.position() - 1));
      p.expectSymbol("(");
      std::vector<ExprPtr> row;
      do {
        row.push_back(p.expression());
      } while (p.acceptSymbol(","));
      p.expectSymbol(")");
      s->rows.push_back(std::move(row));
    } while (p.acceptSymbol(","));
    p.expectBoundary();
    return s;
  }
  if (p.peek().is("DEFAULT") && p.peek(1).is("VALUES")) p.unsupported("DEFAULT VALUES into a table variable", line);
  if (!p.peek().is("SELECT")) p.syntaxError(p.peek());
  const std::size_t from = p.position();
  const std::size_t end = p.passthroughEnd(from, StatementDone::Command::Select);
  p.checkQuery(from, end);
  s->source = Insert::Source::Query;
  s->query.assign(t.begin() + static_cast<std::ptrdiff_t>(from), t.begin() + static_cast<std::ptrdiff_t>(end));
  p.seek(end);
  return s;
}

StatementPtr readUpdateOrDelete(Parser& p) {
  return passthrough(p, p.peek().is("UPDATE") ? StatementDone::Command::Update : StatementDone::Command::Delete);
}

StatementPtr readTruncate(Parser& p) {
  if (!p.peek(1).is("TABLE")) p.syntaxError(p.peek(1));
  return passthrough(p, StatementDone::Command::Delete);
}

StatementPtr readCreate(Parser& p) {
  const Token& what = p.peek(1);
  if (what.is("TABLE") || what.is("INDEX") || what.is("UNIQUE") || what.is("VIEW") || what.is("CLUSTERED") ||
      what.is("NONCLUSTERED"))
    return passthrough(p, StatementDone::Command::Other);
  p.unsupported("CREATE " + toUpperAscii(what.text), p.peek().line);
}

StatementPtr readDrop(Parser& p) {
  if (p.peek(1).is("TABLE") || p.peek(1).is("INDEX") || p.peek(1).is("VIEW"))
    return passthrough(p, StatementDone::Command::Other);
  p.unsupported("DROP " + toUpperAscii(p.peek(1).text), p.peek().line);
}

StatementPtr readAlter(Parser& p) {
  if (p.peek(1).is("TABLE")) return passthrough(p, StatementDone::Command::Other);
  p.unsupported("ALTER " + toUpperAscii(p.peek(1).text), p.peek().line);
}

StatementPtr readExec(Parser& p) {
  const int line = p.next().line;  // EXEC, EXECUTE
  if (p.peek().isSymbol("(")) {
    p.next();
    auto s = Parser::make<ExecString>(line);
    s->value = p.expression();
    p.expectSymbol(")");
    p.expectBoundary();
    return s;
  }
  return readExecCall(p, line);
}

std::unique_ptr<Exec> readBareExec(Parser& p) { return readExecCall(p, p.peek().line); }

StatementPtr readUse(Parser& p) {
  const int line = p.next().line;
  auto s = Parser::make<Use>(line);
  s->database = p.stringLiteral(p.identifierText(), line);
  p.expectBoundary();
  return s;
}

StatementPtr readPrint(Parser& p) {
  const int line = p.next().line;
  auto s = Parser::make<Print>(line);
  s->value = p.expression();
  p.expectBoundary();
  return s;
}

StatementPtr readRaiserror(Parser& p) {
  const int line = p.next().line;
  auto s = Parser::make<Raiserror>(line);
  p.expectSymbol("(");
  s->arguments.push_back(p.expression());
  while (p.acceptSymbol(",")) s->arguments.push_back(p.expression());
  p.expectSymbol(")");
  if (s->arguments.size() < 3) p.syntaxError(p.peek());
  if (p.accept("WITH")) {
    do {
      const Token& o = p.peek();
      if (!(o.is("LOG") || o.is("NOWAIT") || o.is("SETERROR"))) p.syntaxError(o);
      p.next();
    } while (p.acceptSymbol(","));
  }
  p.expectBoundary();
  return s;
}

StatementPtr readWaitfor(Parser& p) {
  const int line = p.next().line;
  auto s = Parser::make<Waitfor>(line);
  if (p.accept("TIME")) {
    s->time = true;
  } else {
    p.expect("DELAY");
  }
  s->value = p.expression();
  p.expectBoundary();
  return s;
}

StatementPtr refuseStatement(Parser& p) {
  p.unsupported("the " + toUpperAscii(p.peek().text) + " statement", p.peek().line);
}

}  // namespace standin::sql
