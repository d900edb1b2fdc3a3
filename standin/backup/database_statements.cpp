// CREATE, DROP and ALTER DATABASE, CHECKPOINT, and the DBCC commands: SHRINKDATABASE and CHECKDB.
#include <algorithm>
#include <chrono>

#include "standin/backup/common.h"
#include "standin/base/text.h"
#include "standin/storage/sqlite_db.h"

namespace standin::backup {

using base::equalsIgnoreCase;
using server::Context;
using server::Server;
using sql::Column;
using sql::Expr;
using sql::Message;
using sql::ResultSet;
using sql::Row;
using sql::SqlError;
using sql::SqlErrors;
using sql::SqlType;
using sql::StatementDone;
using sql::TypedValue;
using storage::RecoveryModel;

namespace {

std::optional<storage::DbEntry> dbccDatabase(Context& c, const Expr& e) {
  const TypedValue v = c.eval(e);
  if (const auto* id = std::get_if<std::int64_t>(&v.value))
    return c.server().catalog.findById(static_cast<int>(*id));
  return c.server().catalog.find(c.evalText(e));
}

}  // namespace

sql::StatementPtr readCreateDatabase(sql::Parser& p) {
  const int line = p.next().line;  // CREATE
  p.next();                        // DATABASE
  auto s = sql::Parser::make<CreateDatabase>(line);
  s->name = p.stringLiteral(p.identifierText(), line);
  // ON / LOG ON clauses describe files the stand-in chooses itself; COLLATE names the
  // database's collation.
  int depth = 0;
  while (!p.atEnd() && (depth > 0 || !p.atBoundary())) {
    if (p.peek().isSymbol("(")) ++depth;
    if (p.peek().isSymbol(")")) --depth;
    if (depth == 0 && p.peek().is("COLLATE")) {
      p.next();
      s->collation = sql::collationName(p.peek(), p.serverYear());
      if (s->collation == "DATABASE_DEFAULT") p.syntaxError(p.peek());
    }
    p.next();
  }
  return s;
}

sql::StatementPtr readDropDatabase(sql::Parser& p) {
  const int line = p.next().line;  // DROP
  p.next();                        // DATABASE
  auto s = sql::Parser::make<DropDatabase>(line);
  s->name = p.stringLiteral(p.identifierText(), line);
  p.expectBoundary();
  return s;
}

// ALTER DATABASE name SET RECOVERY FULL | SIMPLE | BULK_LOGGED [WITH NO_WAIT | ROLLBACK ...]:
// the one form the stand-in carries out; every other is refused, never half done.
sql::StatementPtr readAlterDatabase(sql::Parser& p) {
  const int line = p.next().line;  // ALTER
  p.next();                        // DATABASE
  auto s = sql::Parser::make<AlterDatabase>(line);
  if (p.peek().is("CURRENT") && p.serverYear() >= 2012) {
    p.next();
  } else {
    s->name = p.databaseName();
  }
  if (!p.peek().is("SET") || !p.peek(1).is("RECOVERY")) {
    std::string rest;
    while (!p.atBoundary()) rest += (rest.empty() ? "" : " ") + base::toUpperAscii(p.next().text);
    p.unsupported("ALTER DATABASE ... " + rest.substr(0, 60) + " (only SET RECOVERY)", line);
  }
  p.next();
  p.next();
  const sql::Token& model = p.peek();
  if (!(model.is("FULL") || model.is("SIMPLE") || model.is("BULK_LOGGED"))) p.syntaxError(model);
  s->recoveryModel = base::toUpperAscii(p.next().text);
  if (p.peek().isSymbol(",")) p.unsupported("ALTER DATABASE with more than one option", line);
  // The termination clause only matters to options that need the database to themselves.
  if (p.accept("WITH")) {
    if (p.accept("NO_WAIT")) {
    } else if (p.accept("ROLLBACK")) {
      if (p.accept("AFTER")) {
        if (p.peek().kind != sql::Token::Kind::Number) p.syntaxError(p.peek());
        p.next();
        p.accept("SECONDS");
      } else {
        p.expect("IMMEDIATE");
      }
    } else {
      p.syntaxError(p.peek());
    }
  }
  p.expectBoundary();
  return s;
}

sql::StatementPtr readCheckpoint(sql::Parser& p) {
  const int line = p.next().line;
  auto s = sql::Parser::make<Checkpoint>(line);
  if (p.peek().kind == sql::Token::Kind::Number) s->duration = p.expression();
  p.expectBoundary();
  return s;
}

// DBCC command [(arguments)] [WITH options]: SHRINKDATABASE and CHECKDB are kinds of their own;
// any other command fails when it runs (2526), as SQL Server's unknown ones do.
sql::StatementPtr readDbcc(sql::Parser& p) {
  const int line = p.next().line;  // DBCC
  const sql::Token& cmd = p.peek();
  if (cmd.kind != sql::Token::Kind::Identifier) p.syntaxError(cmd);
  p.next();
  const std::string command = base::toUpperAscii(cmd.text);
  std::unique_ptr<Dbcc> s = command == "SHRINKDATABASE" ? sql::Parser::make<DbccShrinkDatabase>(line)
                            : command == "CHECKDB"      ? sql::Parser::make<DbccCheckDb>(line)
                                                        : sql::Parser::make<Dbcc>(line);
  s->command = command;
  if (p.acceptSymbol("(")) {
    if (!p.peek().isSymbol(")")) {
      do {
        s->arguments.push_back(p.procedureArgument());
      } while (p.acceptSymbol(","));
    }
    p.expectSymbol(")");
  }
  if (p.accept("WITH")) {
    do {
      const sql::Token& o = p.peek();
      if (o.kind != sql::Token::Kind::Identifier) p.syntaxError(o);
      OptionItem item;
      item.name = base::toUpperAscii(o.text);
      p.next();
      s->options.push_back(std::move(item));
    } while (p.acceptSymbol(","));
  }
  p.expectBoundary();
  if (command == "SHRINKDATABASE" && s->arguments.empty()) p.syntaxError(p.peek());
  return s;
}

void otherDbcc(Context&, const Dbcc&) {
  throw SqlError(2526, 16,
                 "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options.");
}

void createDatabase(Context& c, const CreateDatabase& s) {
  const std::string name = c.evalText(*s.name);
  if (c.tranCount() > 0)
    throw SqlError(226, 16, "CREATE DATABASE statement not allowed within multi-statement transaction.");
  storage::NewDatabase n;
  n.name = name;
  if (!s.collation.empty()) n.collation = s.collation;  // COLLATE name, checked when the batch was read
  c.server().catalog.createDatabase(n);
  c.done(false);
}

void dropDatabase(Context& c, const DropDatabase& s) {
  const std::string name = c.evalText(*s.name);
  if (c.tranCount() > 0)
    throw SqlError(226, 16, "DROP DATABASE statement not allowed within multi-statement transaction.");
  for (const char* sys : {"master", "model", "msdb", "tempdb"})
    if (equalsIgnoreCase(name, sys))
      throw SqlError(3708, 16, "Cannot drop the database '" + name + "' because it is a system database.");
  const auto ex = c.server().catalog.beginExclusive(
      name, std::chrono::milliseconds(equalsIgnoreCase(c.currentDatabase(), name) ? 0 : 1500));
  if (ex == storage::Catalog::Exclusive::Missing)
    throw SqlError(
        3701, 11,
        "Cannot drop the database '" + name + "', because it does not exist or you do not have permission.");
  if (ex == storage::Catalog::Exclusive::InUse)
    throw SqlError(3702, 16, "Cannot drop database \"" + name + "\" because it is currently in use.");
  storage::ExclusiveGuard guard(c.server().catalog, name);
  // The data and log files go wherever they are (a restore may have moved them).
  c.server().catalog.dropDatabase(name);
  c.done(false);
}

void alterDatabase(Context& c, const AlterDatabase& s) {
  const int year = c.server().version.year;
  const std::string name = s.name ? c.evalText(*s.name) : c.currentDatabase();
  const auto failed = [](Message first) {
    throw SqlErrors({std::move(first), Message{5069, 1, 16, "ALTER DATABASE statement failed.", 1, {}}});
  };
  if (c.tranCount() > 0)
    throw SqlError(226, 16, "ALTER DATABASE statement not allowed within multi-statement transaction.");
  const auto entry = c.server().catalog.find(name);
  if (!entry || entry->state == storage::DatabaseState::Restoring) {
    if (year == 2000 && !entry) failed(missingDatabase(year, name));
    failed(Message{5011,
                   1,
                   14,
                   "User does not have permission to alter database '" + name +
                       "', the database does not exist, or the database is not in a state that allows access "
                       "checks.",
                   1,
                   {}});
  }
  if (equalsIgnoreCase(entry->name, "tempdb"))
    failed(Message{5058, 1, 16, "Option 'RECOVERY' cannot be set in database 'tempdb'.", 1, {}});
  const RecoveryModel model = s.recoveryModel == "FULL"     ? RecoveryModel::Full
                              : s.recoveryModel == "SIMPLE" ? RecoveryModel::Simple
                                                 : RecoveryModel::BulkLogged;
  c.server().catalog.setRecoveryModel(entry->name, model);
  c.done(false);
}

void checkpoint(Context& c, const Checkpoint&) {
  c.server().catalog.checkpoint(c.currentDatabase());
  c.done(false);
}

void shrinkDatabase(Context& c, const DbccShrinkDatabase& s) {
  const auto entry = dbccDatabase(c, *s.arguments[0]);
  if (!entry) throw SqlError(missingDatabase(c.server().version.year, c.evalText(*s.arguments[0])));
  if (s.arguments.size() > 1) {
    const auto pct = sql::convert(c.eval(*s.arguments[1]), SqlType::integer(), -1, s.line);
    if (!sql::isNull(pct.value) &&
        (std::get<std::int64_t>(pct.value) < 0 || std::get<std::int64_t>(pct.value) > 100))
      throw SqlError(2560, 16, "Parameter 2 is incorrect for this DBCC statement.");
  }
  if (c.tranCount() > 0)
    throw SqlError(574, 16, "DBCC SHRINKDATABASE statement cannot be used inside a user transaction.");
  std::int64_t pages = 0, freePages = 0, pageSize = 4096;
  try {
    const auto lease = holdDatabase(c, entry->name);
    auto target = storage::Database::open(lease->file(), false);
    target.exec("VACUUM");
    storage::Statement a(target.get(), "PRAGMA page_count");
    if (a.step()) pages = a.integer(0);
    storage::Statement b(target.get(), "PRAGMA freelist_count");
    if (b.step()) freePages = b.integer(0);
    storage::Statement size(target.get(), "PRAGMA page_size");
    if (size.step()) pageSize = size.integer(0);
  } catch (const storage::Error& e) {
    if (e.code == SQLITE_BUSY || e.code == SQLITE_LOCKED)
      throw SqlError(5030, 16, "The database could not be exclusively locked to perform the operation.");
    throw;
  }
  const auto toPages = [&](std::int64_t n) {
    return std::max<std::int64_t>(1, (n * pageSize + 8191) / 8192);
  };
  ResultSet rs;
  using K = SqlType::Kind;
  rs.columns = {
      Column{"DbId", SqlType{K::SmallInt, 0}, false},   Column{"FileId", SqlType{K::SmallInt, 0}, false},
      Column{"CurrentSize", SqlType::integer(), false}, Column{"MinimumSize", SqlType::integer(), false},
      Column{"UsedPages", SqlType::integer(), false},   Column{"EstimatedPages", SqlType::integer(), false}};
  rs.rows.push_back(Row{std::int64_t{entry->id}, std::int64_t{1}, toPages(pages), std::int64_t{1},
                        toPages(pages - freePages), toPages(pages - freePages)});
  // The log shrinks only when nothing holds it; SQL Server lists only the files it shrank.
  auto& catalog = c.server().catalog;
  if (catalog.shrinkLog(entry->name)) {
    const auto after = catalog.find(entry->name).value_or(*entry);
    const auto logPages = static_cast<std::int64_t>(after.log.fileBytes / 8192);
    const auto used = pagesOf(catalog.logUsedBytes(after));
    rs.rows.push_back(Row{std::int64_t{entry->id}, std::int64_t{2}, logPages,
                          static_cast<std::int64_t>(after.log.minimumBytes / 8192), used, used});
  } else {
    c.message(9008, 0,
              "Cannot shrink log file 2 (" + entry->logName +
                  ") because the logical log file located at the end of the file is in use.");
  }
  const auto rows = static_cast<std::int64_t>(rs.rows.size());
  c.send(std::move(rs));
  if (!s.option("NO_INFOMSGS"))
    c.message(2528, 0,
              "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");
  c.done(false, rows, StatementDone::Command::Select);
}

void checkDatabase(Context& c, const DbccCheckDb& s) {
  std::optional<storage::DbEntry> entry =
      s.arguments.empty() ? c.server().catalog.find(c.currentDatabase()) : dbccDatabase(c, *s.arguments[0]);
  if (!entry) {
    const std::string name = s.arguments.empty() ? c.currentDatabase() : c.evalText(*s.arguments[0]);
    throw SqlError(missingDatabase(c.server().version.year, name));
  }
  const auto lease = holdDatabase(c, entry->name);
  auto target = storage::Database::open(lease->file(), false);
  // What SQLite finds wrong, by the table it is in (named by the table or one of its indexes).
  struct Damaged {
    std::string table;
    std::int64_t root = 0;
    std::int64_t indexRoot = 0;
    int problems = 0;
  };
  std::vector<Damaged> damaged;
  int unplaced = 0;
  {
    storage::Statement st(target.get(), "PRAGMA integrity_check");
    std::vector<std::string> lines;
    while (st.step())
      if (st.text(0) != "ok") lines.push_back(st.text(0));
    for (const auto& line : lines) {
      std::optional<Damaged> where;
      storage::Statement objects(
          target.get(),
          "SELECT o.tbl_name, t.rootpage, o.rootpage, o.name FROM sqlite_master o JOIN "
          "sqlite_master t ON t.name = o.tbl_name AND t.type = 'table' "
          "WHERE o.type IN ('table', 'index') ORDER BY length(o.name) DESC");
      while (!where && objects.step())
        if (line.find(" " + objects.text(3)) != std::string::npos)
          where = Damaged{objects.text(0), objects.integer(1), objects.integer(2), 0};
      if (!where) {
        ++unplaced;
        continue;
      }
      auto it = std::find_if(damaged.begin(), damaged.end(),
                             [&](const Damaged& d) { return d.table == where->table; });
      if (it == damaged.end()) it = damaged.insert(damaged.end(), *where);
      ++it->problems;
    }
  }
  // Each problem as SQL Server reports a page it could not process (8928, 8939), then the
  // table's and the database's counts.
  int errors = unplaced;
  for (const auto& d : damaged) {
    const std::int64_t objectId = 245575913 + d.root * 16;
    const std::string unit = std::to_string(72057594038910976LL + d.root * 65536);
    const std::string where = "Object ID " + std::to_string(objectId) + ", index ID 2, partition ID " + unit +
                              ", alloc unit ID " + unit + " (type In-row data)";
    const std::string page = "(1:" + std::to_string(d.indexRoot) + ")";
    for (int i = 0; i < d.problems; ++i) {
      c.message(8928, 16,
                where + ": Page " + page + " could not be processed.  See other errors for details.");
      c.message(8939, 16,
                "Table error: " + where + ", page " + page +
                    ". Test (IS_OFF (BUF_IOERR, pBUF->bstat)) failed. Values are 133129 and -4.");
    }
    c.message(8990, 16,
              "CHECKDB found 0 allocation errors and " + std::to_string(2 * d.problems) +
                  " consistency errors in table '" + d.table + "' (object ID " + std::to_string(objectId) +
                  ").");
    errors += 2 * d.problems;
  }
  const bool quiet = s.option("NO_INFOMSGS") != nullptr;
  if (errors || !quiet)
    c.message(8989, errors ? 16 : 0,
              "CHECKDB found 0 allocation errors and " + std::to_string(errors) +
                  " consistency errors in database '" + entry->name + "'.");
  // The repair level comes last and informs only: the summary is what a CATCH block sees.
  if (errors)
    c.message(8958, 10,
              "repair_allow_data_loss is the minimum repair level for the errors found by DBCC CHECKDB (" +
                  entry->name + ").");
  if (!quiet)
    c.message(2528, 0,
              "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");
  c.done(errors != 0);
}

}  // namespace standin::backup
