// Reading a batch: its statements, each read by the reader its first words name in a grammar
// (the server registers every statement kind with its reader), and their expressions. The
// Parser is what a reader reads with: the tokens, the expressions and types, nested
// statements, and SQL Server's errors for what it does not understand.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standin/sql/ast.h"
#include "standin/sql/lexer.h"

namespace standin::sql {

class Parser;

// Reads one statement; the parser stands at its first word. Throws SqlError for what the
// statement's reader does not understand.
using StatementReader = StatementPtr (*)(Parser& parser);

// Which reader reads a statement: by its first word, and a second word where statements of one
// first word are told apart (RESTORE HEADERONLY, RESTORE DATABASE); an entry with no second word
// reads every other statement of its first word.
class Grammar {
 public:
  // Throws std::logic_error for a reader missing or given twice for the same words.
  void add(std::string first, std::string second, StatementReader reader);
  // Null when no entry reads a statement starting so.
  StatementReader find(const Token& first, const Token& second) const;
  // Whether a statement can start with the word: a registered first word, or ELSE and END,
  // which end the statements before them.
  bool startsStatement(const Token& t) const;

 private:
  struct Entry {
    std::string first, second;
    StatementReader reader;
  };
  std::vector<Entry> entries_;
};

struct ParseOptions {
  int serverYear = 2005;
  const Grammar* grammar = nullptr;  // required by parseBatch
};

// Parses a whole batch; throws SqlError for anything it does not understand, before anything
// runs (as SQL Server compiles a batch before executing it).
std::vector<StatementPtr> parseBatch(const std::vector<Token>& tokens, const ParseOptions& options);

// Parses a parameter declaration list such as "@P1 nvarchar(50), @P2 int".
std::vector<Declaration> parseDeclarationList(const std::vector<Token>& tokens);

// Parses a type name such as "varchar(20)"; throws SqlError 2715 for an unknown type.
SqlType parseTypeName(const std::string& name, const std::vector<int>& args, bool hasArgs, bool inConvert,
                      int line);

bool isReservedKeyword(std::string_view word);

// The collation a COLLATE clause names: its canonical name, or DATABASE_DEFAULT; 448 for a name
// the stand-in does not know in the release.
std::string collationName(const Token& t, int serverYear);

class Parser {
 public:
  Parser(const std::vector<Token>& tokens, ParseOptions options) : t_(tokens), opt_(options) {}

  std::vector<StatementPtr> batch();
  std::vector<Declaration> declarationList();

  // ---- the tokens ----
  const Token& peek(std::size_t k = 0) const { return at(p_ + k); }
  const Token& at(std::size_t i) const { return t_[std::min(i, t_.size() - 1)]; }
  const Token& next();
  bool atEnd() const { return peek().kind == Token::Kind::End; }
  bool accept(std::string_view keyword);
  bool acceptSymbol(std::string_view symbol);
  void expect(std::string_view keyword);
  void expectSymbol(std::string_view symbol);
  std::size_t position() const { return p_; }
  void seek(std::size_t position) { p_ = std::min(position, t_.size() - 1); }
  const std::vector<Token>& tokens() const { return t_; }
  int serverYear() const { return opt_.serverYear; }

  // ---- errors ----
  // 102 or 156 "Incorrect syntax near ..." at the token (the last one read at the batch's end).
  [[noreturn]] void syntaxError(const Token& at) const;
  // 50000: what the stand-in does not support (where SQL Server would accept it).
  [[noreturn]] void unsupported(const std::string& what, int line) const;

  // ---- statements ----
  // Whether a statement ends here: the batch's end, a ';' or the word of another statement.
  bool atBoundary() const;
  void expectBoundary();
  bool startsStatement(const Token& t) const { return opt_.grammar && opt_.grammar->startsStatement(t); }
  // The statement that starts here, with its text; null for a lone ';'.
  StatementPtr statement();
  template <typename T>
  static std::unique_ptr<T> make(int line) {
    auto s = std::make_unique<T>();
    s->line = line;
    return s;
  }
  // The statement's text: from token `first` to the last one read.
  void spanText(Statement& s, std::size_t first) const;
  // WHILE statements around the one being read (BREAK and CONTINUE need one).
  struct InLoop {
    explicit InLoop(Parser& p) : parser(p) { ++parser.loopDepth_; }
    ~InLoop() { --parser.loopDepth_; }
    InLoop(const InLoop&) = delete;
    InLoop& operator=(const InLoop&) = delete;
    Parser& parser;
  };
  bool inLoop() const { return loopDepth_ > 0; }

  // ---- names, types, expressions ----
  std::string identifierText();
  ExprPtr expression();
  ExprPtr stringLiteral(const std::string& text, int line);
  // A procedure's or DBCC's argument: an expression, or a bare name standing for a string
  // (EXEC sp_helpdb master).
  ExprPtr procedureArgument();
  // A database named by a variable or a name (BACKUP DATABASE @db, [Sample]).
  ExprPtr databaseName();
  SqlType typeName(bool inConvert);
  Declaration declaration();

  // ---- statements handed to the storage engine ----
  // Index just past the end of such a statement starting at `start`.
  std::size_t passthroughEnd(std::size_t start, StatementDone::Command command) const;
  // What SQL Server refuses in a query that the storage engine would take.
  void checkQuery(std::size_t begin, std::size_t end) const;
  // Index of the first select item of the SELECT at `select`: past ALL / DISTINCT and TOP.
  std::size_t firstSelectItem(std::size_t select) const;
  // Index of the ')' closing the '(' at `open` (the end token when unclosed).
  std::size_t closingParen(std::size_t open) const;

 private:
  StatementPtr statementAt();
  std::vector<TableColumn> tableColumns(const std::string& table);
  void checkWindow(std::size_t over) const;
  void checkSubqueryOrder(std::size_t open) const;
  ExprPtr binary(std::string op, ExprPtr l, ExprPtr r, int line);
  std::vector<Token> subqueryTokens();
  ExprPtr orExpr();
  ExprPtr andExpr();
  ExprPtr notExpr();
  ExprPtr predicate();
  ExprPtr additive();
  ExprPtr multiplicative();
  ExprPtr unary();
  ExprPtr collated();
  ExprPtr primary();
  ExprPtr caseExpr();
  // SQL Server refuses nesting beyond its limits; so does the stand-in, before the stack runs out.
  struct DepthGuard {
    DepthGuard(Parser& p, int line);
    ~DepthGuard() { --parser.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    Parser& parser;
  };

  const std::vector<Token>& t_;
  ParseOptions opt_;
  std::size_t p_ = 0;
  int depth_ = 0;
  int loopDepth_ = 0;
};

}  // namespace standin::sql
