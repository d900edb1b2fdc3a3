// The stand-in's engine: statements as the program sends them, SQL Server's answers.
#include <gtest/gtest.h>

#include "engine_support.h"

using namespace standintest;
using standin::sql::BatchResult;
using standin::sql::Message;

// ---------- the queries of the login and the database list ----------

TEST_F(EngineTest, DefaultDatabaseQueryNamesTheLoginsDatabase) {
  EXPECT_EQ(scalar("SELECT DB_NAME() AS NAME\r\n"), "master");
  const auto sets = run("SELECT DB_NAME() AS NAME\r\n").resultSets();
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].columns[0].name, "NAME");
  auto other = login("Sample");
  const auto r = other->executeBatch("select db_name() as name");
  EXPECT_EQ(standin::sql::valueToText(r.resultSets().at(0).rows.at(0).at(0)), "Sample");
}

TEST_F(EngineTest, UseChangesTheDatabaseWithEnvChangeAndInfo5701) {
  const auto r = run("USE [Sample]");
  ASSERT_FALSE(r.failed());
  const auto* env = std::get_if<standin::sql::EnvChange>(&r.items.at(0));
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(env->newValue, "Sample");
  EXPECT_EQ(env->oldValue, "master");
  const auto* info = find(r, 5701);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->text, "Changed database context to 'Sample'.");
  EXPECT_EQ(session_->currentDatabase(), "Sample");
}

TEST_F(EngineTest, DatabasesAreListedInCatalogOrder) {
  const std::vector<std::string> expected = {"master", "tempdb", "model", "msdb", "Sample"};
  EXPECT_EQ(engine_->databases(), expected);
  const auto r = session_->callProcedure(
      "sp_tables", {{"@table_name", standin::sql::SqlType::nvarchar(128), std::string()},
                    {"@table_owner", standin::sql::SqlType::nvarchar(128), std::string()},
                    {"@table_qualifier", standin::sql::SqlType::nvarchar(128), std::string("%")}});
  const auto sets = r.resultSets();
  ASSERT_EQ(sets.size(), 1u);
  std::vector<std::string> listed;
  for (const auto& row : sets[0].rows) {
    listed.push_back(standin::sql::valueToText(row[0]));
    for (std::size_t c = 1; c < row.size(); ++c) EXPECT_TRUE(standin::sql::isNull(row[c]));
  }
  EXPECT_EQ(listed, expected);
  ASSERT_TRUE(std::holds_alternative<standin::sql::ProcedureDone>(r.items.back()));
  EXPECT_TRUE(std::holds_alternative<standin::sql::ReturnStatus>(r.items[r.items.size() - 2]));
}

TEST_F(EngineTest, SpTablesListsTheTablesOfTheCurrentDatabase) {
  run("USE Sample");
  const auto r = run("EXEC sp_tables @table_name = 'C%'");
  const auto sets = r.resultSets();
  ASSERT_EQ(sets.size(), 1u);
  ASSERT_EQ(sets[0].rows.size(), 1u);
  EXPECT_EQ(standin::sql::valueToText(sets[0].rows[0][2]), "Customers");
  EXPECT_EQ(standin::sql::valueToText(sets[0].rows[0][3]), "TABLE");
}

class VersionText : public ::testing::TestWithParam<int> {};

TEST_P(VersionText, YearSitsAtCharacters22To25) {
  bvtest::TempDir dir("bv-engine");
  standin::engine::EngineConfig c;
  c.dataDir = dir.path();
  c.recordFile = bvtest::nextRecordingFile();
  c.saPassword = "pw";
  c.serverVersion = GetParam();
  standin::engine::Engine engine(c);
  auto s = engine.login({"sa", "pw", "", "", "", "", false}).session;
  ASSERT_TRUE(s);
  const auto r = s->executeBatch("SELECT @@VERSION AS VERSION\r\n");
  const std::string text = standin::sql::valueToText(r.resultSets().at(0).rows.at(0).at(0));
  ASSERT_GE(text.size(), 25u);
  const std::string year = std::to_string(GetParam());
  if (GetParam() == 2000) {
    // Two blanks before the year: characters 22-25 hold " 200".
    EXPECT_EQ(text.substr(0, 26), "Microsoft SQL Server  2000");
    EXPECT_EQ(text.substr(21, 4), " 200");
  } else {
    EXPECT_EQ(text.substr(21, 4), year);
    EXPECT_EQ(text.rfind("Microsoft SQL Server " + year, 0), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Releases, VersionText, ::testing::Values(2000, 2005, 2008, 2012, 2019));

// ---------- literals, names and keywords ----------

TEST_F(EngineTest, StringLiteralsUnescapeDoubledQuotesAndTakeAnNPrefix) {
  EXPECT_EQ(scalar("SELECT 'O''Brien''s'"), "O'Brien's");
  EXPECT_EQ(scalar("select N'日本語 ''x'''"), "日本語 'x'");
  EXPECT_EQ(scalar("SELECT REPLACE(N'a%date%b%DATE%c', '%date%', '_')"), "a_b_c");
}

TEST_F(EngineTest, BracketedNamesUndoubleTheClosingBracket) {
  ASSERT_FALSE(run("CREATE DATABASE [we]]ird db]").failed());
  const auto names = engine_->databases();
  EXPECT_NE(std::find(names.begin(), names.end(), "we]ird db"), names.end());
  const auto r = run("USE [we]]ird db]");
  EXPECT_FALSE(r.failed());
  EXPECT_EQ(session_->currentDatabase(), "we]ird db");
}

TEST_F(EngineTest, KeywordsIgnoreCase) {
  EXPECT_EQ(scalar("sElEcT db_NAME() aS name"), "master");
  const auto r = run("backup log [Sample] with truncate_only");
  EXPECT_FALSE(r.failed()) << r.errors().front().text;
}

TEST_F(EngineTest, ConvertStyle111AndReplaceMakeTheDateDigits) {
  EXPECT_EQ(scalar("DECLARE @d varchar(20) SET @d = CONVERT(varchar, GETDATE(), 111) SET @d = "
                   "REPLACE(@d,'/','') SELECT @d"),
            today());
  EXPECT_EQ(scalar("SELECT CONVERT(varchar, CONVERT(datetime, '2008-01-01 13:05:00'), 111)"), "2008/01/01");
  EXPECT_EQ(scalar("SELECT CONVERT(varchar, CAST('20080101' AS datetime), 112)"), "20080101");
}

TEST_F(EngineTest, VarcharVariablesCutToTheirDeclaredLength) {
  const std::string longText(1200, 'x');
  EXPECT_EQ(scalar("DECLARE @s varchar(1000) SET @s = '" + longText + "' SELECT LEN(@s)"), "1000");
  EXPECT_EQ(scalar("DECLARE @s varchar SET @s = 'abc' SELECT @s"), "a");
  // A character the Japanese code page lacks does not survive a varchar variable.
  EXPECT_EQ(scalar("DECLARE @s varchar(10) SET @s = N'aé日Ω' SELECT @s"), "a?日Ω");
}

// ---------- errors ----------

TEST_F(EngineTest, UnknownSyntaxIsError102Class15AndRunsNothing) {
  const auto r = run("PRINT 'first' PRINT 'second' FROB THE KNOB");
  const auto errors = r.errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].number, 102);
  EXPECT_EQ(errors[0].severity, 15);
  EXPECT_EQ(errors[0].text, "Incorrect syntax near 'FROB'.");
  EXPECT_TRUE(r.infos().empty());  // the batch did not compile, so nothing printed
  const auto again = run("FLIP");
  ASSERT_EQ(again.errors().size(), 1u);
  EXPECT_EQ(again.errors()[0].number, 2812);  // a lone name calls a procedure
  EXPECT_EQ(run("SELECT 1 FROM").errors().at(0).number, 156);
  EXPECT_EQ(run("SELECT 1 FROM").errors().at(0).text, "Incorrect syntax near the keyword 'FROM'.");
}

TEST_F(EngineTest, EveryUnsupportedStatementIsAnError) {
  for (const char* sql :
       {"GOTO done", "CREATE PROCEDURE p AS SELECT 1", "ALTER DATABASE x SET OFFLINE",
        "DBCC FREEPROCCACHE", "SET FORCEPLANS ON", "BACKUP DATABASE [Sample] TO TAPE = 'x'"}) {
    const auto r = run(sql);
    ASSERT_TRUE(r.failed()) << sql;
    EXPECT_GE(r.errors()[0].severity, 15) << sql;
  }
}

TEST_F(EngineTest, LoginRefusalsCarrySqlServersMessages) {
  auto wrong = engine_->login({"sa", "nope", "", "", "", "", false});
  EXPECT_FALSE(wrong.session);
  ASSERT_EQ(wrong.errors.size(), 1u);
  EXPECT_EQ(wrong.errors[0].number, 18456);
  EXPECT_EQ(wrong.errors[0].severity, 14);
  EXPECT_EQ(wrong.errors[0].text, "Login failed for user 'sa'.");
  auto unknown = engine_->login({"bob", "pw", "", "", "", "", false});
  EXPECT_EQ(unknown.errors.at(0).text, "Login failed for user 'bob'.");
  auto badDb = engine_->login({"sa", "pw", "Nowhere", "", "", "", false});
  EXPECT_EQ(numbers(badDb.errors), (std::vector<int>{4060, 18456}));
  auto ntlm = engine_->login({"", "", "", "", "", "", true});
  EXPECT_EQ(ntlm.errors.at(0).number, 18452);
}

TEST_F(EngineTest, ExtremeInputIsRefusedAndTheSessionCarriesOn) {
  const auto deep = run("SELECT " + std::string(20000, '(') + "1" + std::string(20000, ')'));
  ASSERT_EQ(deep.errors().size(), 1u);
  EXPECT_EQ(deep.errors()[0].number, 191);
  const auto blocks = run([] {
    std::string s;
    for (int i = 0; i < 5000; ++i) s += "BEGIN ";
    s += "PRINT 'x' ";
    for (int i = 0; i < 5000; ++i) s += "END ";
    return s;
  }());
  EXPECT_TRUE(blocks.hasMessage(191));
  EXPECT_FALSE(run("SELECT 1e999999, 123456789012345678901234567890").failed());
  EXPECT_EQ(scalar("SELECT 'still here'"), "still here");
}

TEST_F(EngineTest, ALongChainOfOperatorsIsRefusedLikeDeepNesting) {
  // A chain is as deep a tree as it is long: 300,000 terms once overflowed the session
  // thread's stack and took the whole server down.
  const auto chain = [](int terms) {
    std::string s = "SELECT 1";
    for (int i = 1; i < terms; ++i) s += "+1";
    return s;
  };
  const auto endless = run(chain(300000));
  ASSERT_EQ(endless.errors().size(), 1u);
  EXPECT_EQ(endless.errors()[0].number, 191);
  // Nesting and chains add up: 100 parentheses, each around a chain of 20, are 2,000 levels,
  // though neither alone comes near a limit.
  std::string condition = "1=1";
  for (int i = 0; i < 100; ++i) {
    std::string level = "(" + condition + ")";
    for (int j = 0; j < 20; ++j) level += " AND 1=1";
    condition = level;
  }
  const auto layered = run("SELECT CASE WHEN " + condition + " THEN 1 END");
  ASSERT_EQ(layered.errors().size(), 1u);
  EXPECT_EQ(layered.errors()[0].number, 191);
  // A chain of ordinary length still evaluates.
  EXPECT_EQ(scalar(chain(500)), "500");
  EXPECT_EQ(scalar("SELECT 'still here'"), "still here");
}

TEST_F(EngineTest, UndeclaredVariableStopsTheBatch) {
  const auto r = run("SET @nope = 1 SELECT 'after'");
  ASSERT_EQ(r.errors().size(), 1u);
  EXPECT_EQ(r.errors()[0].number, 137);
  EXPECT_EQ(r.errors()[0].text, "Must declare the scalar variable \"@nope\".");
  EXPECT_TRUE(r.resultSets().empty());
}

TEST_F(EngineTest, StatementErrorsLeaveTheRestOfTheBatchRunning) {
  run("USE Sample");
  const auto r = run("SELECT * FROM NoTable SELECT COUNT(*) FROM Customers");
  ASSERT_EQ(r.errors().size(), 1u);
  EXPECT_EQ(r.errors()[0].number, 208);
  EXPECT_EQ(r.errors()[0].text, "Invalid object name 'NoTable'.");
  ASSERT_EQ(r.resultSets().size(), 1u);
  EXPECT_EQ(standin::sql::valueToText(r.resultSets()[0].rows[0][0]),
            std::to_string(count("Sample", "Customers")));
}

TEST_F(EngineTest, ErrorsCarryTheirBatchLineNumber) {
  const auto r = run("PRINT 'one'\r\nPRINT 'two'\r\nSELECT * FROM NoTable");
  ASSERT_EQ(r.errors().size(), 1u);
  EXPECT_EQ(r.errors()[0].line, 3);
}

// ---------- transactions ----------

TEST_F(EngineTest, RollbackUndoesAndCommitKeeps) {
  run("USE Sample");
  const auto before = count("Sample", "Customers");
  EXPECT_FALSE(run("BEGIN TRANSACTION").failed());
  EXPECT_EQ(session_->tranCount(), 1);
  EXPECT_EQ(scalar("SELECT @@TRANCOUNT"), "1");
  run("INSERT INTO Customers VALUES (50, 'tmp', NULL)");
  EXPECT_FALSE(run("IF @@TRANCOUNT > 0 ROLLBACK").failed());
  EXPECT_EQ(count("Sample", "Customers"), before);
  EXPECT_EQ(session_->tranCount(), 0);
  run("BEGIN TRANSACTION");
  run("INSERT INTO Customers VALUES (51, 'kept', NULL)");
  // the batch a driver sends to commit and start the next transaction
  EXPECT_FALSE(run("IF @@TRANCOUNT > 0 COMMIT BEGIN TRANSACTION").failed());
  EXPECT_EQ(count("Sample", "Customers"), before + 1);
  EXPECT_EQ(session_->tranCount(), 1);
  run("IF @@TRANCOUNT > 0 ROLLBACK");
}

TEST_F(EngineTest, TransactionManagerRequestsReportDescriptors) {
  auto begin = session_->beginTransaction();
  ASSERT_EQ(begin.items.size(), 1u);
  const auto& env = std::get<standin::sql::EnvChange>(begin.items[0]);
  EXPECT_EQ(env.kind, standin::sql::EnvChange::Kind::BeginTransaction);
  EXPECT_EQ(env.newValue.size(), 8u);
  EXPECT_NE(env.newValue, std::string(8, '\0'));
  EXPECT_EQ(session_->transactionDescriptor(), env.newValue);
  auto commit = session_->commitTransaction(true);
  ASSERT_EQ(commit.items.size(), 2u);
  EXPECT_EQ(std::get<standin::sql::EnvChange>(commit.items[0]).oldValue, env.newValue);
  EXPECT_NE(std::get<standin::sql::EnvChange>(commit.items[1]).newValue, env.newValue);
  auto rollback = session_->rollbackTransaction(false);
  EXPECT_EQ(std::get<standin::sql::EnvChange>(rollback.items.at(0)).kind,
            standin::sql::EnvChange::Kind::RollbackTransaction);
  EXPECT_EQ(session_->transactionDescriptor(), std::string(8, '\0'));
  const auto none = session_->commitTransaction(false);
  ASSERT_TRUE(none.failed());
  EXPECT_EQ(none.errors()[0].number, 3902);
}

// ---------- prepared statements ----------

TEST_F(EngineTest, PrepExecReturnsAHandleThatExecuteReuses) {
  using P = standin::engine::Session::Parameter;
  const auto first = session_->callProcedure(
      "sp_prepexec", {P{"@handle", standin::sql::SqlType::integer(), standin::sql::Value{}, true},
                      P{"", standin::sql::SqlType::nvarchar(-1), std::string("@P1 int")},
                      P{"", standin::sql::SqlType::nvarchar(-1), std::string("SELECT @P1 + 1 AS v")},
                      P{"", standin::sql::SqlType::integer(), std::int64_t{41}}});
  ASSERT_FALSE(first.failed());
  EXPECT_EQ(standin::sql::valueToText(first.resultSets().at(0).rows.at(0).at(0)), "42");
  const standin::sql::ReturnValue* handle = nullptr;
  for (const auto& item : first.items)
    if (const auto* rv = std::get_if<standin::sql::ReturnValue>(&item)) handle = rv;
  ASSERT_NE(handle, nullptr);
  const auto again =
      session_->callProcedure("sp_execute", {P{"", standin::sql::SqlType::integer(), handle->value},
                                             P{"", standin::sql::SqlType::integer(), std::int64_t{1}}});
  EXPECT_EQ(standin::sql::valueToText(again.resultSets().at(0).rows.at(0).at(0)), "2");
  session_->callProcedure("sp_unprepare", {P{"", standin::sql::SqlType::integer(), handle->value}});
  const auto gone =
      session_->callProcedure("sp_execute", {P{"", standin::sql::SqlType::integer(), handle->value}});
  EXPECT_TRUE(gone.hasMessage(8179));
}

TEST_F(EngineTest, ExecuteSqlTakesItsFirstTwoParametersByPositionWhateverTheirNames) {
  using P = standin::engine::Session::Parameter;
  const auto nvarchar = standin::sql::SqlType::nvarchar(-1);
  // As an independent TDS client sends it: @statement and @params, then the values.
  const auto r =
      session_->callProcedure("sp_executesql", {P{"@statement", nvarchar, std::string("SELECT @x + @y AS v")},
                                                P{"@params", nvarchar, std::string("@x int, @y int")},
                                                P{"@x", standin::sql::SqlType::integer(), std::int64_t{40}},
                                                P{"@y", standin::sql::SqlType::integer(), std::int64_t{2}}});
  ASSERT_FALSE(r.failed()) << r.errors().front().text;
  EXPECT_EQ(standin::sql::valueToText(r.resultSets().at(0).rows.at(0).at(0)), "42");
  // The documented names and none at all work as before.
  const auto named =
      session_->callProcedure("sp_executesql", {P{"@stmt", nvarchar, std::string("SELECT @x * 2 AS v")},
                                                P{"@params", nvarchar, std::string("@x int")},
                                                P{"@x", standin::sql::SqlType::integer(), std::int64_t{21}}});
  EXPECT_EQ(standin::sql::valueToText(named.resultSets().at(0).rows.at(0).at(0)), "42");
  const auto bare =
      session_->callProcedure("sp_executesql", {P{"", nvarchar, std::string("SELECT 42 AS v")}});
  EXPECT_EQ(standin::sql::valueToText(bare.resultSets().at(0).rows.at(0).at(0)), "42");
  const auto none = session_->callProcedure("sp_executesql", {});
  ASSERT_TRUE(none.failed());
  EXPECT_EQ(none.errors()[0].number, 201);
}

TEST_F(EngineTest, UnknownProcedureIs2812) {
  const auto r = session_->callProcedure("sp_nothing_here", {});
  ASSERT_TRUE(r.failed());
  EXPECT_EQ(r.errors()[0].text, "Could not find stored procedure 'sp_nothing_here'.");
}

// ---------- restart ----------

TEST(EngineRestart, AGeneratedPasswordAndTheDataSurviveARestart) {
  bvtest::TempDir dir("bv-engine");
  standin::engine::EngineConfig c;
  c.dataDir = dir.path();
  c.recordFile = bvtest::nextRecordingFile();
  std::string password;
  {
    standin::engine::Engine first(c);
    EXPECT_TRUE(first.saPasswordGenerated());
    password = first.saPassword();
    EXPECT_GE(password.size(), 12u);
    first.execute("Sample", "DELETE FROM Orders WHERE OrderID = 1");
  }
  standin::engine::Engine second(c);
  EXPECT_FALSE(second.saPasswordGenerated());
  EXPECT_EQ(second.saPassword(), password);
  EXPECT_TRUE(second.login({"sa", password, "", "", "", "", false}).session);
  EXPECT_EQ(second.query("Sample", "SELECT COUNT(*) FROM Orders WHERE OrderID = 1")[0][0], "0");
}
