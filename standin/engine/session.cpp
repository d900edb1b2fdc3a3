#include <algorithm>

#include "standin/base/text.h"
#include "standin/engine/engine_internal.h"
#include "standin/sql/parser.h"
#include "standin/storage/passthrough.h"
#include "standin/storage/rewrite.h"

namespace standin::engine {

using base::equalsIgnoreCase;
using base::toLowerAscii;
using base::toUpperAscii;
using sql::BatchResult;
using sql::Column;
using sql::DateTime;
using sql::EnvChange;
using sql::Expr;
using sql::Message;
using sql::ResultSet;
using sql::Row;
using sql::Scope;
using sql::SqlError;
using sql::SqlErrors;
using sql::Statement;
using sql::StatementDone;
using sql::Token;
using sql::Value;
using sql::Variable;

// ---------- public wrapper ----------

Session::Session(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Session::~Session() = default;

int Session::spid() const { return impl_->spid; }
const std::string& Session::loginName() const { return impl_->login; }
std::string Session::currentDatabase() const { return impl_->currentDb(); }
int Session::tranCount() const { return impl_->tranCount; }
std::string Session::transactionDescriptor() const {
  return impl_->tranCount > 0 ? impl_->descriptor : std::string(8, '\0');
}

namespace {
const Session::CancelCheck kNoCancel = [] { return false; };
}

BatchResult Session::executeBatch(std::string_view sql, const CancelCheck& cancel) {
  if (impl_->recording) impl_->recording->request("batch", sql);
  const sql::DateOrderScope order(impl_->dateOrder);
  const Impl::RequestScope request(*impl_, sql);
  BatchResult out;
  Scope vars;
  Impl::Exec x{out, cancel ? cancel : kNoCancel, vars};
  try {
    impl_->runBatchText(x, sql);
  } catch (const Cancelled&) {
    out.cancelled = true;
  }
  impl_->recordReply(out);
  return out;
}

void Session::Impl::recordReply(const sql::BatchResult& reply) {
  if (!recording) return;
  recording->reply(reply);
  if (engine->stopping) recording->replaceReply("answered while the server stopped");
}

void Session::recordNote(std::string_view text) {
  // What the wire does while the server stops (a client it finds gone) races the stop.
  if (impl_->recording && !impl_->engine->stopping) impl_->recording->note(text);
}

void Session::recordAttentionReply() {
  if (impl_->recording) impl_->recording->replaceReply("answered by an attention's acknowledgement");
}

namespace {

// Runs one transaction request, turning what it raises into the messages of its reply.
template <typename Request>
BatchResult runTransactionRequest(Session::Impl& session, std::string_view what, Request&& request) {
  if (session.recording) session.recording->request("transaction", what);
  BatchResult out;
  Scope vars;
  Session::Impl::Exec x{out, kNoCancel, vars};
  try {
    request(x);
  } catch (const SqlError& e) {
    out.items.push_back(e.message);
  } catch (const std::exception& e) {
    out.items.push_back(Message{50000, 1, 16, std::string("The stand-in server failed: ") + e.what(), 1, {}});
  }
  session.recordReply(out);
  return out;
}

}  // namespace

BatchResult Session::beginTransaction() {
  return runTransactionRequest(*impl_, "begin", [&](Impl::Exec& x) { impl_->begin(x); });
}

BatchResult Session::commitTransaction(bool beginNew) {
  return runTransactionRequest(*impl_, beginNew ? "commit, begin new" : "commit", [&](Impl::Exec& x) {
    impl_->commit(x);
    if (beginNew) impl_->begin(x);
  });
}

BatchResult Session::rollbackTransaction(bool beginNew) {
  return runTransactionRequest(*impl_, beginNew ? "rollback, begin new" : "rollback", [&](Impl::Exec& x) {
    impl_->rollback(x);
    if (beginNew) impl_->begin(x);
  });
}

// ---------- Impl ----------

Session::Impl::~Impl() {
  // Closing the connection rolls back an open transaction.
  conn.reset();
  db.reset();
  if (engine && tranCount > 0) engine->catalog.transactionEnded(spid);
  if (engine && engine->recorder && recording) engine->recorder->write(recording->finish());
  if (engine) engine->sessions.fetch_sub(1);
}

void Session::Impl::message(Exec& x, int number, int severity, std::string text, int state) {
  Message m;
  m.number = number;
  m.state = state;
  m.severity = severity;
  m.text = std::move(text);
  m.line = x.line;
  x.out.items.push_back(std::move(m));
}

void Session::Impl::done(Exec& x, bool error, std::optional<std::int64_t> count,
                         StatementDone::Command command) {
  auto& d = std::get<StatementDone>(x.out.items.emplace_back(std::in_place_type<StatementDone>));
  d.error = error;
  if (count && !nocount) d.rowCount = *count;
  d.inProcedure = x.inProcedure;
  d.command = command;
}

void Session::Impl::checkCancel(Exec& x) {
  if (x.out.cancelled || x.cancel()) {
    x.out.cancelled = true;
    throw Cancelled();
  }
}

Session::Impl::RequestScope::RequestScope(Session::Impl& s, std::string_view text) : session(s) {
  session.requestText = std::string(text);
  int databaseId = 1;
  if (auto d = session.engine->catalog.find(session.currentDb())) databaseId = d->id;
  session.engine->requests.begin(session.spid, session.engine->now(), databaseId);
}

Session::Impl::RequestScope::~RequestScope() {
  session.engine->requests.end(session.spid);
  session.requestText.clear();
}

void Session::Impl::runBatchText(Exec& x, std::string_view text) {
  x.text = text;
  std::vector<sql::StatementPtr> statements;
  try {
    const auto tokens = sql::tokenize(text);
    statements = sql::parseBatch(tokens, sql::ParseOptions{engine->version.year, &registry().statements.grammar()});
  } catch (const SqlError& e) {
    // A batch that does not compile runs no statement at all.
    x.out.items.push_back(e.message);
    done(x, true);
    lastError = e.message.number;
    return;
  } catch (const std::exception& e) {
    message(x, 50000, 16, std::string("The stand-in server could not read this batch: ") + e.what());
    done(x, true);
    lastError = 50000;
    return;
  }
  // EXEC('...') inside EXEC('...'): SQL Server stops at 32 levels.
  if (nesting >= 32)
    throw SqlError(217, 16,
                   "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit 32).");
  struct Nest {
    int& n;
    explicit Nest(int& level) : n(level) { ++n; }
    ~Nest() { --n; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;
  } nest(nesting);
  // The batch's table variables end with it, however it ends.
  struct DropTablesAtEnd {
    DropTablesAtEnd(Session::Impl& s, Scope& v) : session(s), vars(v) {}
    ~DropTablesAtEnd() { session.dropTables(vars); }
    DropTablesAtEnd(const DropTablesAtEnd&) = delete;
    DropTablesAtEnd& operator=(const DropTablesAtEnd&) = delete;
    Session::Impl& session;
    Scope& vars;
  } dropTablesAtEnd(*this, x.vars);
  for (const auto& s : statements) {
    if (x.stop || x.out.cancelled) break;
    runStatement(x, *s);
  }
}

sql::TypedValue Session::Impl::eval(Exec& x, const Expr& e) {
  BatchEnvironment environment(*this, x);
  return sql::Evaluator(x.vars, environment).eval(e);
}

std::string Session::Impl::evalText(Exec& x, const Expr& e) {
  BatchEnvironment environment(*this, x);
  return sql::Evaluator(x.vars, environment).evalText(e);
}

void Session::Impl::assign(Exec& x, const std::string& name, const sql::TypedValue& v, int line) {
  BatchEnvironment environment(*this, x);
  sql::Evaluator(x.vars, environment).assign(name, v, line);
}

namespace {

// Errors after which SQL Server abandons the rest of the batch.
bool abortsBatch(int number) {
  return number == 245 || number == 241 || number == 8114 || number == 8115 || number == 137 || number == 134;
}

}  // namespace

void Session::Impl::runStatement(Exec& x, const Statement& s) {
  if (x.stop || x.jump != Exec::Jump::None || pendingCatch) return;
  checkCancel(x);
  const int savedLine = x.line;
  x.line = s.line;
  const auto& kind = registry().statements.kindOf(s);
  noteCommand(kind, s);
  // Whatever the statement wrote goes into the logs of the databases it wrote to, also when it
  // failed part of the way.
  struct LogAtEnd {
    Session::Impl& session;
    ~LogAtEnd() {
      try {
        session.logChanges();
        session.keepCommittedChanges();
      } catch (const std::exception&) {
        // The log's numbers are the stand-in's own bookkeeping; a failure leaves them behind.
      }
    }
  } logAtEnd{*this};
  const std::size_t start = x.out.items.size();
  if (kind.ownText) holdIfAsked(x, s);
  try {
    StatementContext c(*this, x);
    kind.run(c, s);
    if (!kind.keepsError) lastError = 0;
  } catch (const SqlError& e) {
    Message m = e.message;
    if (m.line <= 1) m.line = s.line;
    x.out.items.push_back(m);
    done(x, true);
    lastError = m.number;
    if (abortsBatch(m.number) && tryDepth == 0) x.stop = true;
  } catch (const SqlErrors& e) {
    for (auto m : e.messages) {
      m.line = s.line;
      x.out.items.push_back(m);
    }
    done(x, true);
    lastError = e.messages.empty() ? 0 : e.messages.back().number;
  } catch (const storage::Error& e) {
    if (e.code == SQLITE_INTERRUPT) {
      x.out.cancelled = true;
      throw Cancelled();
    }
    Message m = storage::messageFor(e, currentDb());
    m.line = s.line;
    x.out.items.push_back(m);
    done(x, true);
    lastError = m.number;
  } catch (const Cancelled&) {
    throw;
  } catch (const std::exception& e) {
    message(x, 50000, 16, std::string("The stand-in server failed: ") + e.what());
    done(x, true);
    lastError = 50000;
  }
  if (tryDepth > 0) catchErrors(x, start);
  x.line = savedLine;
}

void Session::Impl::holdIfAsked(Exec& x, const Statement& s) {
  if (s.textEnd > x.text.size()) return;
  const std::string_view own = x.text.substr(s.textBegin, s.textEnd - s.textBegin);
  const auto fault = engine->faults.take(base::StatementFault::Kind::Hold, {own});
  if (!fault) return;
  if (!engine->faults.hold(std::chrono::milliseconds(fault->amount),
                           [&] { return x.out.cancelled || x.cancel(); })) {
    x.out.cancelled = true;
    throw Cancelled();
  }
}

void Session::Impl::catchErrors(Exec& x, std::size_t start) {
  auto& items = x.out.items;
  for (std::size_t k = start; k < items.size();) {
    const auto* m = std::get_if<Message>(&items[k]);
    if (m && m->isError()) {
      // SQL Server hands the CATCH block the last error of the statement (3013 after a
      // RESTORE's reasons, 8989's line after CHECKDB's).
      pendingCatch = *m;
      items.erase(items.begin() + static_cast<std::ptrdiff_t>(k));
      continue;
    }
    ++k;
  }
}

void Session::Impl::runTryCatch(Exec& x, const sql::TryCatch& s) {
  ++tryDepth;
  try {
    runStatement(x, *s.tryBlock);
  } catch (...) {
    --tryDepth;
    throw;
  }
  --tryDepth;
  if (!pendingCatch) return;
  auto handled = std::exchange(pendingCatch, std::nullopt);
  lastError = handled->number;
  std::swap(caughtError, handled);
  struct Restore {
    std::optional<Message>& caught;
    std::optional<Message> outer;
    ~Restore() { caught = std::move(outer); }
  } restore{caughtError, std::move(handled)};
  runStatement(x, *s.catchBlock);
}

// ---------- transactions ----------

void Session::Impl::begin(Exec& x) {
  if (tranCount == 0) {
    connection().exec("BEGIN");
    const std::uint64_t id = engine->nextTransaction.fetch_add(1);
    descriptor.assign(8, '\0');
    for (int i = 0; i < 8; ++i)
      descriptor[static_cast<std::size_t>(i)] = static_cast<char>((id >> (8 * i)) & 0xFF);
    tranCount = 1;
    x.out.items.push_back(EnvChange{EnvChange::Kind::BeginTransaction, descriptor, {}});
    return;
  }
  ++tranCount;
}

void Session::Impl::commit(Exec& x) {
  if (tranCount == 0)
    throw SqlError(3902, 16, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  if (--tranCount > 0) return;
  logChanges();
  engine->catalog.transactionEnded(spid);
  try {
    connection().exec("COMMIT");
  } catch (const storage::Error&) {
    // A failed commit leaves nothing open; SQLite has already rolled back or will on close.
    conn.reset();
    attached.clear();
    x.out.items.push_back(EnvChange{EnvChange::Kind::RollbackTransaction, {}, descriptor});
    descriptor.assign(8, '\0');
    throw;
  }
  x.out.items.push_back(EnvChange{EnvChange::Kind::CommitTransaction, {}, descriptor});
  descriptor.assign(8, '\0');
  detachAll();
}

void Session::Impl::rollback(Exec& x) {
  if (tranCount == 0)
    throw SqlError(3903, 16, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  tranCount = 0;
  logChanges();
  engine->catalog.transactionEnded(spid);
  try {
    connection().exec("ROLLBACK");
    for (const std::string& schema : conn->recordedSchemas()) conn->takeChanges(schema);  // none of them stay
    changesToKeep = false;
  } catch (const storage::Error&) {
    conn.reset();
    attached.clear();
  }
  unreplayableChanges.clear();
  x.out.items.push_back(EnvChange{EnvChange::Kind::RollbackTransaction, {}, descriptor});
  descriptor.assign(8, '\0');
  detachAll();
}

// ---------- databases ----------

namespace {

[[noreturn]] void throwMissingDatabase(int year, const std::string& name) {
  if (year == 2000)
    throw SqlError(911, 16,
                   "Could not locate entry in sysdatabases for database '" + name +
                       "'. No entry found with that name. Make sure that the name is entered correctly.");
  throw SqlError(911, 16,
                 "Database '" + name + "' does not exist. Make sure that the name is entered correctly.");
}

}  // namespace

namespace {

// SQLite tells of every row a statement changes, and in which database (main, temp, or an
// attached one); the session adds them up for the databases' logs.
void countChangedRow(void* session, int, const char* schema, const char* table, sqlite3_int64) {
  auto* impl = static_cast<Session::Impl*>(session);
  const std::string name = schema ? schema : "main";
  ++impl->changedRows[name];
  impl->changedTables.insert(name + '\t' + (table ? table : ""));
}

}  // namespace

storage::Database& Session::Impl::connection() {
  if (!conn) {
    const auto file = db ? db->file() : engine->catalog.dataDir() / "master.sqlite";
    conn.emplace(storage::Database::open(file, false));
    storage::registerStorageFunctions(conn->get());
    registerSessionFunctions(conn->get());
    sqlite3_update_hook(conn->get(), &countChangedRow, this);
    tableHasKey.clear();  // "main" may be another database now
    if (db) recordChangesOf("main", db->name());
  }
  return *conn;
}

void Session::Impl::recordChangesOf(const std::string& schema, const std::string& database) {
  for (const char* system : {"master", "tempdb", "model", "msdb"})
    if (equalsIgnoreCase(database, system)) return;
  conn->recordChanges(schema);
}

void Session::Impl::keepCommittedChanges() {
  if (tranCount > 0 || !conn || !changesToKeep) return;
  changesToKeep = false;
  auto& catalog = engine->catalog;
  for (const std::string& schema : conn->recordedSchemas()) {
    try {
      std::string changes = conn->takeChanges(schema);
      if (!changes.empty())
        catalog.changeCommitted(schema == "main" ? currentDb() : schema, std::move(changes), false);
    } catch (const storage::Error&) {
      // The record of committed changes is the stand-in's own bookkeeping, as the log's numbers are.
    }
  }
  for (const std::string& database : unreplayableChanges) catalog.changeCommitted(database, {}, true);
  unreplayableChanges.clear();
}

void Session::Impl::logChanges() {
  if (changedRows.empty() && changedDefinitions == 0) return;
  const int session = tranCount > 0 ? spid : 0;
  auto& catalog = engine->catalog;
  if (changedDefinitions) tableHasKey.clear();
  changesToKeep = true;
  for (const std::string& key : changedTables) {
    const std::size_t tab = key.find('\t');
    const std::string schema = key.substr(0, tab);
    if (schema == "temp" || !conn) continue;
    auto known = tableHasKey.find(key);
    if (known == tableHasKey.end()) {
      bool hasKey = false;  // unknown: as without one, so that no restore stops after it
      try {
        const auto rows = storage::select(conn->get(), "SELECT COUNT(*) FROM pragma_table_info(?, ?) WHERE pk > 0",
                                          {sql::Value(key.substr(tab + 1)), sql::Value(schema)});
        hasKey = !rows.empty() && sql::valueToText(rows[0][0]) != "0";
      } catch (const storage::Error&) {
      }
      known = tableHasKey.emplace(key, hasKey).first;
    }
    if (!known->second) unreplayableChanges.insert(schema == "main" ? currentDb() : schema);
  }
  changedTables.clear();
  // Table variables live in temp, as tempdb's; its log is not kept.
  for (const auto& [schema, rows] : changedRows)
    if (schema != "temp") catalog.logChanges(schema == "main" ? currentDb() : schema, rows, 0, session);
  if (changedDefinitions) {
    catalog.logChanges(currentDb(), 0, changedDefinitions, session);
    unreplayableChanges.insert(currentDb());
  }
  changedRows.clear();
  changedDefinitions = 0;
}

void Session::Impl::useDatabase(Exec& x, const std::string& name) {
  if (tranCount > 0 && !equalsIgnoreCase(name, currentDb()))
    throw SqlError(50000, 16, "The stand-in server cannot change the database inside a transaction.");
  std::string canonical;
  std::filesystem::path file;
  const auto acq = engine->catalog.acquire(name, canonical, file);
  if (acq == storage::Catalog::Acquire::Missing) throwMissingDatabase(engine->version.year, name);
  if (acq == storage::Catalog::Acquire::Restoring)
    throw SqlError(927, 14, "Database '" + name + "' cannot be opened. It is in the middle of a restore.");
  const std::string old = currentDb();
  // Table variables live on the connection, which another database needs anew.
  if (tableVariables > 0 && (!db || db->file() != file))
    throw SqlError(50000, 16,
                   "The stand-in server cannot change the database while a table variable is declared.");
  auto lease = std::make_unique<storage::DbLease>(engine->catalog, canonical, file);
  if (!db || db->file() != file) {
    logChanges();
    keepCommittedChanges();
    conn.reset();
    attached.clear();
  }
  db = std::move(lease);
  x.out.items.push_back(EnvChange{EnvChange::Kind::Database, canonical, old});
  message(x, 5701, 0, "Changed database context to '" + canonical + "'.");
  done(x, false);
}

void Session::Impl::attachDatabase(const storage::DbEntry& database) {
  auto& c = connection();
  for (const auto& lease : attached)
    if (equalsIgnoreCase(lease->name(), database.name)) return;
  std::string canonical;
  std::filesystem::path file;
  const auto acq = engine->catalog.acquire(database.name, canonical, file);
  if (acq == storage::Catalog::Acquire::Missing) throwMissingDatabase(engine->version.year, database.name);
  if (acq == storage::Catalog::Acquire::Restoring)
    throw SqlError(927, 14,
                   "Database '" + database.name + "' cannot be opened. It is in the middle of a restore.");
  auto lease = std::make_unique<storage::DbLease>(engine->catalog, canonical, file);
  storage::Statement attach(c.get(), "ATTACH DATABASE ? AS " + storage::quoteIdentifier(canonical));
  attach.bindText(1, file.string());
  attach.step();
  attached.push_back(std::move(lease));
  recordChangesOf(canonical, canonical);
}

void Session::Impl::detachDatabase(const std::string& name) {
  if (tranCount > 0 || !conn) return;
  try {
    logChanges();
    keepCommittedChanges();
    conn->stopRecording(name);
    conn->exec("DETACH DATABASE " + storage::quoteIdentifier(name));
    attached.erase(std::remove_if(attached.begin(), attached.end(),
                                  [&](const auto& lease) { return equalsIgnoreCase(lease->name(), name); }),
                   attached.end());
  } catch (const storage::Error&) {
  }
}

void Session::Impl::detachAll() {
  if (tranCount > 0 || !conn) return;
  logChanges();
  keepCommittedChanges();
  while (!attached.empty()) {
    const std::string name = attached.back()->name();
    try {
      conn->stopRecording(name);
      conn->exec("DETACH DATABASE " + storage::quoteIdentifier(name));
    } catch (const storage::Error&) {
      // Still in use by a statement: the connection goes, and every attachment with it.
      conn.reset();
      attached.clear();
      return;
    }
    attached.pop_back();
  }
}

// ---------- statements handed to SQLite ----------

namespace {

bool isNameToken(const Token& t) {
  return t.kind == Token::Kind::Identifier || t.kind == Token::Kind::QuotedIdentifier;
}

}  // namespace

Session::Impl::StorageText Session::Impl::storageText(Exec& x, const std::vector<Token>& tokens,
                                                      StatementDone::Command command) {
  // Data statements keep T-SQL's meaning of +, CONVERT, the built-in functions and TOP; table
  // definitions stay plain SQLite, so the files remain readable without the stand-in's functions.
  const bool data = command != StatementDone::Command::Other;
  // Comparisons take the collations of what they compare (collations.cpp).
  const auto sources = data ? tableSources(tokens) : std::vector<TableSource>{};
  ColumnCache columns;
  storage::CollationScope scope;
  scope.database = &databaseCollation();
  scope.column = [&](const std::vector<std::string>& parts) {
    return columnCollation(x, sources, columns, parts);
  };
  const auto toks = data ? storage::rewriteForStorage(tokens, scope) : tokens;
  StorageText out;
  std::string& text = out.text;
  auto append = [&](const std::string& piece) {
    if (!text.empty()) text.push_back(' ');
    text += piece;
  };
  for (std::size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    // A system view (sys.databases, master..sysaltfiles, ...) is read from a table of its rows.
    if (isNameToken(t)) {
      if (auto view = systemObjectAt(x, toks, i)) {
        append(view->table);
        i = view->last;
        continue;
      }
    }
    // database..table and database.dbo.table name the current database or fail
    if (isNameToken(t) && i + 2 < toks.size() && toks[i + 1].isSymbol(".")) {
      const bool twoDots = toks[i + 2].isSymbol(".") && i + 3 < toks.size() && isNameToken(toks[i + 3]);
      const bool threePart = isNameToken(toks[i + 2]) && i + 4 < toks.size() && toks[i + 3].isSymbol(".") &&
                             isNameToken(toks[i + 4]);
      if (twoDots || threePart) {
        const std::string& table = toks[i + (twoDots ? 3 : 4)].text;
        if (equalsIgnoreCase(t.text, currentDb())) {
          append(storage::quoteIdentifier(table));
        } else {
          // Another database: attached to this connection under its own name.
          const auto other = engine->catalog.find(t.text);
          if (!other) throw SqlError(208, 16, "Invalid object name '" + t.text + ".dbo." + table + "'.");
          attachDatabase(*other);
          append(storage::quoteIdentifier(other->name) + "." + storage::quoteIdentifier(table));
        }
        i += twoDots ? 3 : 4;
        continue;
      }
      if (equalsIgnoreCase(t.text, "dbo") && isNameToken(toks[i + 2])) {
        ++i;  // drop "dbo."
        continue;
      }
    }
    switch (t.kind) {
      case Token::Kind::Variable:
      case Token::Kind::GlobalVariable: {
        if (t.kind == Token::Kind::Variable) {
          // A table variable is its table, named apart from every other one.
          const auto it = x.vars.find(toLowerAscii(t.text));
          if (it != x.vars.end() && it->second.isTable) {
            append("temp." + storage::quoteIdentifier(it->second.storageTable));
            break;
          }
          const Token* before = i > 0 ? &toks[i - 1] : nullptr;
          if (before && (before->is("FROM") || before->is("JOIN") || before->is("INTO") ||
                         before->is("UPDATE") || before->is("DELETE")))
            throw SqlError(1087, 15, "Must declare the table variable \"" + toLowerAscii(t.text) + "\".");
        }
        Expr e;
        e.kind = t.kind == Token::Kind::Variable ? Expr::Kind::Variable : Expr::Kind::Global;
        e.name = t.kind == Token::Kind::Variable ? toLowerAscii(t.text) : toUpperAscii(t.text);
        e.line = t.line;
        Value v = eval(x, e).value;
        if (const auto* dt = std::get_if<DateTime>(&v)) v = dt->iso();
        out.binds.push_back(v);
        append("?");
        break;
      }
      case Token::Kind::String:
        append(storage::quoteString(t.text));
        break;
      case Token::Kind::QuotedIdentifier:
        append(storage::quoteIdentifier(t.text));
        break;
      case Token::Kind::Identifier: {
        const bool call = i + 2 < toks.size() && toks[i + 1].isSymbol("(") && toks[i + 2].isSymbol(")");
        if ((t.is("GETDATE") || t.is("SYSDATETIME") || t.is("GETUTCDATE") || t.is("SYSUTCDATETIME")) &&
            call) {
          const bool utc = t.is("GETUTCDATE") || t.is("SYSUTCDATETIME");
          if (!data) {
            append(utc ? "strftime('%Y-%m-%d %H:%M:%f', 'now')"
                       : "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')");  // a column default
          } else {
            out.binds.emplace_back(std::in_place_type<std::string>,
                                   (utc ? engine->utcNow() : engine->now()).iso());
            append("?");
          }
          i += 2;
          break;
        }
        if (t.is("TRUNCATE") && i + 1 < toks.size() && toks[i + 1].is("TABLE")) {
          append("DELETE FROM");
          ++i;
          break;
        }
        if (t.is("ISNULL")) {
          append("IFNULL");
          break;
        }
        if (t.is("LEN") && !data) {
          append("LENGTH");
          break;
        }
        append(t.raw);
        break;
      }
      case Token::Kind::Symbol:
        if (t.text == "!<") {
          append(">=");
        } else if (t.text == "!>") {
          append("<=");
        } else {
          append(t.text);
        }
        break;
      default:
        append(t.raw);
    }
  }
  return out;
}

namespace {

// A statement compiled on a connection; the databases attached for it are detached again once
// it has run (unless a transaction may still hold their writes).
struct CompiledStatement {
  Session::Impl& session;
  std::optional<storage::Statement> statement;
  CompiledStatement(Session::Impl& s, sqlite3* db, const std::string& text, const std::vector<Token>& toks)
      : session(s) {
    try {
      compile(db, text, toks);
    } catch (...) {
      // A statement that does not compile (a table the other database lacks) holds it no longer.
      release();
      throw;
    }
  }
  void compile(sqlite3* db, const std::string& text, const std::vector<Token>& toks) {
    try {
      statement.emplace(db, text);
    } catch (const storage::Error& e) {
      if (std::string(e.what()).find("incomplete input") == std::string::npos || toks.empty()) throw;
      // The statement ends too early: SQL Server names its last word.
      const Token& last = toks.back();
      if (last.kind == Token::Kind::Identifier && sql::isReservedKeyword(last.text))
        throw SqlError(156, 15, "Incorrect syntax near the keyword '" + last.text + "'.");
      throw SqlError(102, 15, "Incorrect syntax near '" + last.text + "'.");
    }
    std::string_view tail = statement->tail();
    while (!tail.empty() && (tail.front() == ' ' || tail.front() == ';')) tail.remove_prefix(1);
    if (!tail.empty())
      throw SqlError(102, 15, "Incorrect syntax near '" + std::string(tail.substr(0, 20)) + "'.");
  }
  ~CompiledStatement() { release(); }
  void release() {
    if (session.attached.empty() || session.tranCount > 0 || !session.conn) return;
    statement.reset();
    session.detachAll();
  }
  CompiledStatement(const CompiledStatement&) = delete;
  CompiledStatement& operator=(const CompiledStatement&) = delete;
};

}  // namespace

sql::ResultSet Session::Impl::query(Exec& x, const std::vector<Token>& tokens) {
  const StorageText st = storageText(x, tokens, StatementDone::Command::Select);
  auto& c = connection();
  storage::ProgressGuard progress(c.get(), x.cancel);
  CompiledStatement compiled(*this, c.get(), st.text, tokens);
  storage::Statement& q = *compiled.statement;
  for (std::size_t k = 0; k < st.binds.size(); ++k) q.bind(static_cast<int>(k + 1), st.binds[k]);
  const int columns = q.columnCount();
  ResultSet rs;
  while (q.step()) {
    Row row;
    for (int col = 0; col < columns; ++col) row.push_back(q.value(col));
    rs.rows.push_back(std::move(row));
    if ((rs.rows.size() & 255) == 0) checkCancel(x);
  }
  for (int col = 0; col < columns; ++col) {
    Column column;
    const char* name = sqlite3_column_name(q.get(), col);
    column.name = name ? name : "";
    column.type =
        storage::columnType(sqlite3_column_decltype(q.get(), col), rs.rows, static_cast<std::size_t>(col));
    rs.columns.push_back(column);
  }
  for (auto& row : rs.rows)
    for (std::size_t col = 0; col < row.size(); ++col)
      row[col] = storage::conformValue(row[col], rs.columns[col].type);
  // A computed column without an alias has no name in SQL Server.
  for (std::size_t col = 0; col < rs.columns.size(); ++col) {
    const char* origin = sqlite3_column_origin_name(q.get(), static_cast<int>(col));
    if (!origin) {
      bool aliased = false;
      for (std::size_t k = 0; k + 1 < tokens.size(); ++k)
        if (tokens[k].is("AS") && equalsIgnoreCase(tokens[k + 1].text, rs.columns[col].name)) aliased = true;
      if (!aliased && rs.columns[col].name.find('(') != std::string::npos) rs.columns[col].name.clear();
    }
  }
  return rs;
}

void Session::Impl::runPassthrough(Exec& x, const sql::Passthrough& s) {
  if (s.command == StatementDone::Command::Select) {
    ResultSet rs = query(x, s.tokens);
    rowcount = static_cast<std::int64_t>(rs.rows.size());
    x.out.items.push_back(std::move(rs));
    done(x, false, rowcount, StatementDone::Command::Select);
    return;
  }
  const StorageText st = storageText(x, s.tokens, s.command);
  auto& c = connection();
  storage::ProgressGuard progress(c.get(), x.cancel);
  CompiledStatement compiled(*this, c.get(), st.text, s.tokens);
  storage::Statement& statement = *compiled.statement;
  for (std::size_t k = 0; k < st.binds.size(); ++k) statement.bind(static_cast<int>(k + 1), st.binds[k]);
  if (statement.columnCount() > 0) {
    // A statement that is no SELECT but gives rows (PRAGMA, ...): its rows as they come.
    ResultSet rs;
    while (statement.step()) {
      Row row;
      for (int col = 0; col < statement.columnCount(); ++col) row.push_back(statement.value(col));
      rs.rows.push_back(std::move(row));
    }
    for (int col = 0; col < statement.columnCount(); ++col) {
      const char* name = sqlite3_column_name(statement.get(), col);
      rs.columns.push_back(Column{name ? name : "",
                                  storage::columnType(sqlite3_column_decltype(statement.get(), col), rs.rows,
                                                      static_cast<std::size_t>(col)),
                                  true});
    }
    rowcount = static_cast<std::int64_t>(rs.rows.size());
    x.out.items.push_back(std::move(rs));
    done(x, false, rowcount, StatementDone::Command::Select);
    return;
  }
  statement.step();
  // A table's definition changed (CREATE, ALTER, DROP TABLE or INDEX) is logged as well.
  if (s.command == StatementDone::Command::Other && !sqlite3_stmt_readonly(statement.get()))
    ++changedDefinitions;
  if (s.command == StatementDone::Command::Insert || s.command == StatementDone::Command::Update ||
      s.command == StatementDone::Command::Delete) {
    rowcount = sqlite3_changes(c.get());
    done(x, false, rowcount, s.command);
  } else {
    done(x, false);
  }
}

}  // namespace standin::engine
