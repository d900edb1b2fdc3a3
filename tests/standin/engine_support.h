// Helpers for the tests that run statements in the stand-in's engine: an engine on a fresh
// data folder, a logged-in session, and the batches exactly as the program builds them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/maintenance/command_builder.h"
#include "standin/base/statement_faults.h"
#include "standin/engine/engine.h"
#include "standin/sql/results.h"
#include "standin_fixture.h"

namespace standintest {

// The batches exactly as the program builds them: its own builders.
inline std::string joinLines(const std::vector<std::string>& lines) {
  return bv::maintenance::joinCommandLines(lines);
}
inline std::string backupBatch(const std::string& db, const std::string& path, bool verify) {
  return bv::maintenance::buildBackupCommand(db, path, verify);
}
inline std::string restoreStatement(const std::string& db, const std::string& path) {
  return bv::maintenance::buildRestoreCommand(db, path);
}
inline std::string truncateLogStatement(const std::string& db) {
  return bv::maintenance::buildTruncateLogCommand(db);
}
inline std::string shrinkStatement(const std::string& db) { return bv::maintenance::buildShrinkCommand(db); }

// The numbers of messages, in order.
inline std::vector<int> numbers(const std::vector<standin::sql::Message>& messages) {
  std::vector<int> out;
  for (const auto& m : messages) out.push_back(m.number);
  return out;
}

// The first message of that number, or null.
inline const standin::sql::Message* find(const standin::sql::BatchResult& r, int number) {
  for (const auto& item : r.items)
    if (const auto* m = std::get_if<standin::sql::Message>(&item); m && m->number == number) return m;
  return nullptr;
}

// Today's date as the server writes it into %date%: yyyymmdd.
inline std::string today() { return standin::sql::DateTime::now().format(112).value(); }

// An engine of the release on `dataDir`, password pw, without the Agent's thread (the tests run
// jobs themselves), with faults on demand inside statements.
inline std::unique_ptr<standin::engine::Engine> openEngine(
    const std::filesystem::path& dataDir, int year, std::vector<standin::base::StatementFault> faults = {}) {
  standin::engine::EngineConfig c;
  c.dataDir = dataDir;
  c.recordFile = bvtest::nextRecordingFile();
  c.saPassword = "pw";
  c.serverVersion = year;
  c.computerName = "TESTBOX";
  c.startAgent = false;
  c.statementFaults = std::move(faults);
  return std::make_unique<standin::engine::Engine>(c);
}

class EngineTest : public ::testing::Test {
 protected:
  explicit EngineTest(int year = 2005) : dir_("bv-engine") {
    standin::engine::EngineConfig c;
    c.dataDir = dir_.path() / "data";
    c.recordFile = bvtest::nextRecordingFile();
    c.saPassword = "pw";
    c.serverVersion = year;
    c.computerName = "TESTBOX";
    engine_ = std::make_unique<standin::engine::Engine>(c);
    session_ = login();
  }

  std::unique_ptr<standin::engine::Session> login(const std::string& database = {}) {
    standin::engine::LoginRequest r;
    r.user = "sa";
    r.password = "pw";
    r.database = database;
    auto result = engine_->login(r);
    if (!result.session)
      ADD_FAILURE() << "login failed: " << (result.errors.empty() ? "" : result.errors.back().text);
    return std::move(result.session);
  }

  standin::sql::BatchResult run(const std::string& sql) { return session_->executeBatch(sql); }

  // The single value of the single row of the only result set.
  std::string scalar(const std::string& sql) {
    const auto r = run(sql);
    const auto sets = r.resultSets();
    if (r.failed()) ADD_FAILURE() << sql << ": " << r.errors().front().text;
    if (sets.size() != 1 || sets[0].rows.size() != 1 || sets[0].rows[0].size() != 1) {
      ADD_FAILURE() << sql << ": not a single value";
      return {};
    }
    return standin::sql::valueToText(sets[0].rows[0][0]);
  }

  std::int64_t count(const std::string& db, const std::string& table) {
    return std::stoll(*engine_->query(db, "SELECT COUNT(*) FROM " + table)[0][0]);
  }

  std::filesystem::path scratch(const std::string& name) const {
    std::filesystem::create_directories(dir_.path() / "scratch");
    return dir_.path() / "scratch" / name;
  }

  bvtest::TempDir dir_;
  std::unique_ptr<standin::engine::Engine> engine_;
  std::unique_ptr<standin::engine::Session> session_;
};

}  // namespace standintest
