// Which collation a column reference of a statement handed to SQLite brings to a comparison:
// the statement's tables found by their names and aliases, each column's declared type read
// from SQLite (text or not), and the collation of the table's database or table variable.
#include "standin/base/text.h"
#include "standin/engine/engine_internal.h"
#include "standin/sql/parser.h"
#include "standin/storage/passthrough.h"

namespace standin::engine {

using base::equalsIgnoreCase;
using sql::Token;

namespace {

bool isName(const Token& t) {
  return t.kind == Token::Kind::QuotedIdentifier ||
         (t.kind == Token::Kind::Identifier && !sql::isReservedKeyword(t.text));
}

// The table reference at toks[i]: [db.[schema].]table, @variable, or (derived) [AS] alias.
std::size_t tableReference(const std::vector<Token>& toks, std::size_t i, std::vector<TableSource>& out) {
  TableSource s;
  if (i < toks.size() && toks[i].isSymbol("(")) {
    int depth = 0;
    for (; i < toks.size(); ++i) {
      if (toks[i].isSymbol("(")) ++depth;
      if (toks[i].isSymbol(")") && --depth == 0) break;
    }
    ++i;
    s.known = false;
  } else if (i < toks.size() && toks[i].kind == Token::Kind::Variable) {
    s.variable = base::toLowerAscii(toks[i++].text);
  } else {
    if (i >= toks.size() || !isName(toks[i])) return i;
    std::vector<std::string> parts{toks[i++].text};
    while (i + 1 < toks.size() && toks[i].isSymbol(".")) {
      ++i;
      if (toks[i].isSymbol(".")) {
        parts.emplace_back();  // db..table
        ++i;
      }
      if (i >= toks.size() || !isName(toks[i])) break;
      parts.push_back(toks[i++].text);
    }
    s.table = parts.back();
    if (parts.size() >= 3) s.database = parts[parts.size() - 3];
    if (parts.size() >= 2 && equalsIgnoreCase(parts[parts.size() - 2], "sys")) s.known = false;
  }
  if (i < toks.size() && toks[i].is("AS")) ++i;
  if (i < toks.size() && isName(toks[i]) && !toks[i].is("WITH")) s.alias = toks[i++].text;
  out.push_back(std::move(s));
  return i;
}

}  // namespace

std::vector<TableSource> tableSources(const std::vector<Token>& toks) {
  std::vector<TableSource> out;
  for (std::size_t i = 0; i < toks.size(); ++i) {
    if (!toks[i].is("FROM") && !toks[i].is("JOIN") && !toks[i].is("UPDATE")) continue;
    std::size_t j = tableReference(toks, i + 1, out);
    // FROM a x, b y
    while (toks[i].is("FROM") && j < toks.size() && toks[j].isSymbol(","))
      j = tableReference(toks, j + 1, out);
  }
  return out;
}

const base::Collation& Session::Impl::databaseCollation() const {
  if (const auto d = engine->catalog.find(currentDb()))
    if (const auto* c = base::findCollation(d->collation)) return *c;
  return base::serverCollation();
}

const base::Collation* Session::Impl::columnCollation(Exec& x, const std::vector<TableSource>& sources,
                                                      ColumnCache& cache,
                                                      const std::vector<std::string>& parts) {
  if (parts.empty()) return nullptr;
  const std::string& column = parts.back();
  // Which of the statement's tables the name may mean: the one its qualifier names (an alias,
  // else the table's own name), or any of them.
  std::vector<const TableSource*> candidates;
  for (const auto& s : sources) {
    if (parts.size() >= 2) {
      const std::string& qualifier = parts[parts.size() - 2];
      const std::string& name = s.alias.empty() ? (s.variable.empty() ? s.table : s.variable) : s.alias;
      if (!equalsIgnoreCase(qualifier, name)) continue;
    }
    candidates.push_back(&s);
  }
  const base::Collation* found = nullptr;
  int matches = 0;
  for (const auto* s : candidates) {
    if (!s->known) return nullptr;  // a derived table could hold it
    if (!s->variable.empty()) {
      const auto it = x.vars.find(s->variable);
      if (it == x.vars.end() || !it->second.isTable) continue;
      for (const auto& c : it->second.columns)
        if (equalsIgnoreCase(c.name, column)) {
          ++matches;
          found = c.type.isString() ? base::findCollation(it->second.collation) : nullptr;
        }
      continue;
    }
    const std::string database = s->database.empty() ? currentDb() : s->database;
    const auto entry = engine->catalog.find(database);
    if (!entry) continue;
    const std::string key = base::toLowerAscii(entry->name + "." + s->table);
    auto cached = cache.find(key);
    if (cached == cache.end()) {
      std::map<std::string, bool, std::less<>> columns;
      try {
        std::string schema = "main";
        if (!equalsIgnoreCase(entry->name, currentDb())) {
          attachDatabase(*entry);
          schema = entry->name;
        }
        storage::Statement info(connection().get(), "PRAGMA " + storage::quoteIdentifier(schema) +
                                                        ".table_info(" + storage::quoteIdentifier(s->table) +
                                                        ")");
        while (info.step()) {
          const std::string type = base::toUpperAscii(info.isNull(2) ? std::string() : info.text(2));
          const bool text = type.find("CHAR") != std::string::npos ||
                            type.find("TEXT") != std::string::npos || type == "SYSNAME";
          columns[base::toLowerAscii(info.text(1))] = text;
        }
      } catch (const std::exception&) {
        // A database that cannot be attached or read: its columns are not told.
      }
      cached = cache.emplace(key, std::move(columns)).first;
    }
    const auto col = cached->second.find(base::toLowerAscii(column));
    if (col == cached->second.end()) continue;
    ++matches;
    found = col->second ? base::findCollation(entry->collation) : nullptr;
  }
  return matches == 1 ? found : nullptr;
}

}  // namespace standin::engine
