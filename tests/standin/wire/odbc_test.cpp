// The stand-in through the real client stack: unixODBC + FreeTDS over 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <latch>
#include <ostream>
#include <set>
#include <thread>

#include "engine_support.h"
#include "odbc_client.h"
#include "standin/backup/backup_file.h"
#include "standin_fixture.h"

using bvtest::StandinFixture;
using bvtest::odbc::Connection;
using bvtest::odbc::Diag;
using bvtest::odbc::Result;
using namespace standintest;

namespace {

std::vector<std::string> firstColumn(const Result& r) {
  std::vector<std::string> out;
  if (r.sets.empty()) return out;
  for (const auto& row : r.sets[0].rows) out.push_back(row[0].value_or("NULL"));
  return out;
}

std::string single(const Result& r) {
  if (r.sets.empty() || r.sets[0].rows.empty() || !r.sets[0].rows[0][0]) return "<none>";
  return *r.sets[0].rows[0][0];
}

std::vector<long> natives(const std::vector<Diag>& diags) {
  std::vector<long> out;
  for (const auto& d : diags) out.push_back(d.native);
  return out;
}

bool contains(const std::vector<long>& v, long n) { return std::find(v.begin(), v.end(), n) != v.end(); }

class Odbc : public ::testing::Test {
 protected:
  StandinFixture standin;

  std::unique_ptr<Connection> open(const std::string& extra = "") {
    auto c = std::make_unique<Connection>();
    std::vector<Diag> diags;
    if (!c->connect(standin.odbcConnectionString(extra), &diags))
      ADD_FAILURE() << "connect failed: " << (diags.empty() ? "" : diags.front().text);
    return c;
  }
};

}  // namespace

// ---------- logging in ----------

TEST_F(Odbc, SaLogsInWithAPasswordHoldingSemicolonAndQuote) {
  ASSERT_NE(standin.saPassword().find(';'), std::string::npos);
  auto c = open();
  ASSERT_TRUE(c->connected());
  EXPECT_EQ(single(c->execute("SELECT DB_NAME() AS NAME\r\n")), "master");
  EXPECT_EQ(c->info(SQL_DBMS_NAME), "Microsoft SQL Server");
  EXPECT_EQ(c->info(SQL_DBMS_VER).rfind("09.00", 0), 0u);
}

TEST_F(Odbc, WrongPasswordIsRefusedWith18456) {
  Connection c;
  std::vector<Diag> diags;
  EXPECT_FALSE(c.connect("Driver=" + bvtest::odbcDriverName() + ";Server=127.0.0.1;Port=" +
                             std::to_string(standin.port()) + ";UID=sa;PWD=wrong;",
                         &diags));
  ASSERT_TRUE(contains(natives(diags), 18456));
  for (const auto& d : diags) {
    if (d.native == 18456) {
      EXPECT_EQ(d.text, "[FreeTDS][SQL Server]Login failed for user 'sa'.");
    }
  }
  EXPECT_EQ(standin.engine().activeSessions(), 0);
}

TEST_F(Odbc, WindowsAccountIsRefusedWith18452) {
  Connection c;
  std::vector<Diag> diags;
  EXPECT_FALSE(c.connect("Driver=" + bvtest::odbcDriverName() + ";Server=127.0.0.1;Port=" +
                             std::to_string(standin.port()) + ";UID=DOMAIN\\someone;PWD=x;",
                         &diags));
  EXPECT_TRUE(contains(natives(diags), 18452));
}

TEST_F(Odbc, DatabaseKeyOpensThatDatabaseAndAMissingOneIsRefused) {
  auto c = open("Database=" + standin.sampleDatabase() + ";");
  EXPECT_EQ(single(c->execute("SELECT DB_NAME() AS NAME")), "Sample");
  Connection bad;
  std::vector<Diag> diags;
  EXPECT_FALSE(bad.connect(standin.odbcConnectionString("Database=NoSuchDb;"), &diags));
  EXPECT_TRUE(contains(natives(diags), 4060));
}

// ---------- protocol versions and transactions ----------

struct VersionCase {
  int serverYear;
  const char* clientTds;
  bool transactionManager;  // expected from the negotiated version
};

// How CTest lists a case (otherwise its raw bytes, pointer included, differ from run to run).
void PrintTo(const VersionCase& c, std::ostream* out) {
  *out << c.serverYear << " server, TDS " << c.clientTds << " client";
}

class OdbcVersions : public ::testing::TestWithParam<VersionCase> {};

TEST_P(OdbcVersions, QueriesAndTransactionsWork) {
  bvtest::TempDir traceDir("bv-trace");
  const auto trace = traceDir.path() / "trace.log";
  StandinFixture standin(bvtest::StandinOptions{GetParam().serverYear, "Sa-pass;w'rd1", trace});
  Connection c;
  std::vector<Diag> diags;
  ASSERT_TRUE(c.connect(
      standin.odbcConnectionString(std::string("TDS_Version=") + GetParam().clientTds + ";Database=Sample;"),
      &diags))
      << (diags.empty() ? "" : diags[0].text);
  EXPECT_EQ(single(c.execute("SELECT DB_NAME() AS NAME")), "Sample");
  EXPECT_EQ(single(c.execute("SELECT N'日本語テキスト' AS t")), "日本語テキスト");
  const auto names = firstColumn(c.execute("SELECT Name FROM Customers ORDER BY CustomerID"));
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names[0], "山田 太郎");

  const auto before = standin.rowCount("Sample", "Customers");
  ASSERT_TRUE(c.setAutocommit(false));
  auto ins = c.execute("INSERT INTO Customers VALUES (100, N'rolled back', NULL)");
  ASSERT_FALSE(ins.anyError) << (ins.diags.empty() ? "" : ins.diags[0].text);
  ASSERT_EQ(ins.rowCounts.size(), 1u);
  EXPECT_EQ(ins.rowCounts[0], 1);
  EXPECT_EQ(single(c.execute("SELECT @@TRANCOUNT")), "1");
  ASSERT_TRUE(c.endTransaction(false));
  EXPECT_EQ(standin.rowCount("Sample", "Customers"), before);
  c.execute("INSERT INTO Customers VALUES (101, N'committed', NULL)");
  ASSERT_TRUE(c.endTransaction(true));
  EXPECT_EQ(standin.rowCount("Sample", "Customers"), before + 1);
  // after a commit the driver is in a new transaction again
  EXPECT_EQ(single(c.execute("SELECT @@TRANCOUNT")), "1");
  ASSERT_TRUE(c.setAutocommit(true));
  EXPECT_EQ(single(c.execute("SELECT @@TRANCOUNT")), "0");

  std::ifstream in(trace);
  const std::string log((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(log.find("transaction manager") != std::string::npos, GetParam().transactionManager) << log;
  EXPECT_EQ(log.find("batch:\nBEGIN TRANSACTION") != std::string::npos, !GetParam().transactionManager)
      << log;
}

INSTANTIATE_TEST_SUITE_P(Tds, OdbcVersions,
                         ::testing::Values(VersionCase{2005, "7.1", false}, VersionCase{2005, "7.2", true},
                                           VersionCase{2005, "7.4", true}, VersionCase{2000, "7.4", false},
                                           VersionCase{2012, "7.4", true}),
                         [](const auto& testInfo) {
                           std::string tds = testInfo.param.clientTds;
                           tds.erase(std::remove(tds.begin(), tds.end(), '.'), tds.end());
                           return "Server" + std::to_string(testInfo.param.serverYear) + "Client" + tds;
                         });

TEST(OdbcTrace, TheTraceIsTheOwnersOnly) {
  bvtest::TempDir traceDir("bv-trace");
  const auto trace = traceDir.path() / "trace.log";
  StandinFixture standin(bvtest::StandinOptions{2005, "Sa-pass;w'rd1", trace});
  Connection c;
  ASSERT_TRUE(c.connect(standin.odbcConnectionString()));
  EXPECT_EQ(single(c.execute("SELECT 'traced' AS marker")), "traced");
  struct stat st {};
  ASSERT_EQ(::stat(trace.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// ---------- the program's statements ----------

TEST_F(Odbc, CatalogListsEveryDatabaseInOrder) {
  auto c = open();
  const auto r = c->tables("%", "", "");
  ASSERT_FALSE(r.anyError) << (r.diags.empty() ? "" : r.diags[0].text);
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(r.sets[0].columns.at(0), "TABLE_CAT");
  EXPECT_EQ(firstColumn(r), (std::vector<std::string>{"master", "tempdb", "model", "msdb", "Sample"}));
  c->execute("CREATE DATABASE [Zeta]");
  c->execute("CREATE DATABASE [Alpha]");
  EXPECT_EQ(firstColumn(c->tables("%", "", "")),
            (std::vector<std::string>{"master", "tempdb", "model", "msdb", "Sample", "Zeta", "Alpha"}));
}

TEST_F(Odbc, BackupBatchReportsItsInfoMessages) {
  auto c = open();
  const auto r = c->execute(
      backupBatch("Sample", (standin.scratchDir() / "b_%date%.bak").string(), true) + "\r\n", 21600);
  EXPECT_EQ(r.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_FALSE(r.anyError);
  EXPECT_EQ(natives(r.diags), (std::vector<long>{3211, 4035, 4035, 3014, 3262}));
  for (const auto& d : r.diags) EXPECT_EQ(d.state, "01000") << d.text;
  EXPECT_EQ(r.diags.at(0).text, "[FreeTDS][SQL Server]100 percent processed.");
  const auto file = standin.scratchDir() / ("b_" + today() + ".bak");
  EXPECT_EQ(standin::backup::readBackupFile(file, false).status, standin::backup::BackupReadStatus::Ok);
}

TEST_F(Odbc, FailedBackupGivesBothErrorsAndAnErrorReturn) {
  auto c = open();
  const auto r =
      c->execute(backupBatch("Sample", (standin.scratchDir() / "missing" / "x.bak").string(), false));
  EXPECT_EQ(r.rc, SQL_ERROR);
  const auto n = natives(r.diags);
  EXPECT_TRUE(contains(n, 3201));
  EXPECT_TRUE(contains(n, 3013));
  for (const auto& d : r.diags) EXPECT_EQ(d.state, "42000");
}

TEST_F(Odbc, RestoreRunsFromMasterAndIsRefusedWhileTheDatabaseIsInUse) {
  const auto file = (standin.scratchDir() / "r.bak").string();
  auto admin = open("Database=master;");
  ASSERT_FALSE(admin->execute(backupBatch("Sample", file, false)).anyError);
  standin.executeSqlite("Sample", "DELETE FROM Customers");
  {
    auto user = open("Database=Sample;");
    const auto refused = admin->execute(restoreStatement("Sample", file));
    EXPECT_EQ(refused.rc, SQL_ERROR);
    EXPECT_TRUE(contains(natives(refused.diags), 3101));
    EXPECT_TRUE(contains(natives(refused.diags), 3013));
    EXPECT_EQ(standin.rowCount("Sample", "Customers"), 0);
  }
  const auto ok = admin->execute(restoreStatement("Sample", file));
  EXPECT_FALSE(ok.anyError) << (ok.diags.empty() ? "" : ok.diags[0].text);
  EXPECT_TRUE(contains(natives(ok.diags), 3014));
  EXPECT_EQ(standin.rowCount("Sample", "Customers"), 4);
}

TEST_F(Odbc, TruncateAndShrinkRunOnSeparateConnections) {
  {
    auto c = open();
    const auto r = c->execute(truncateLogStatement("Sample"));
    EXPECT_FALSE(r.anyError);
    EXPECT_EQ(r.rc, SQL_NO_DATA);  // no rows, no count: what a count-less batch gives in ODBC 3
  }
  standin.executeSqlite(
      "Sample",
      "CREATE TABLE Filler (x TEXT); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
      "WHERE i < 2000) INSERT INTO Filler SELECT printf('%0400d', i) FROM n; DELETE FROM Filler;");
  const auto before = std::filesystem::file_size(standin.databaseFile("Sample"));
  auto c = open();
  const auto r = c->execute(shrinkStatement("Sample"));
  EXPECT_FALSE(r.anyError) << (r.diags.empty() ? "" : r.diags[0].text);
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(r.sets[0].columns.at(0), "DbId");
  EXPECT_LT(std::filesystem::file_size(standin.databaseFile("Sample")), before / 4);
  EXPECT_EQ(standin.rowCount("Sample", "Customers"), 4);
}

TEST_F(Odbc, UnsupportedStatementIsAnErrorNotASilentSuccess) {
  auto c = open();
  const auto r = c->execute("GOTO done");
  EXPECT_EQ(r.rc, SQL_ERROR);
  ASSERT_FALSE(r.diags.empty());
  EXPECT_EQ(r.diags[0].state, "42000");
  const auto syntax = c->execute("SELEC 1");
  EXPECT_EQ(syntax.rc, SQL_ERROR);
}

// ---------- attention, prepared statements, many clients ----------

TEST_F(Odbc, QueryTimeoutCancelsAndTheConnectionStaysUsable) {
  auto c = open();
  const auto r = c->execute("WAITFOR DELAY '00:00:30'", 1);
  EXPECT_EQ(r.rc, SQL_ERROR);
  ASSERT_FALSE(r.diags.empty());
  EXPECT_EQ(r.diags[0].state, "HYT00");
  EXPECT_EQ(single(c->execute("SELECT 7 AS seven")), "7");
}

TEST_F(Odbc, AQueryTimeoutEndsALoopWithoutEnd) {
  // SQL Server bounds no WHILE loop; the driver's attention ends it.
  auto c = open();
  const auto loop = c->execute("DECLARE @i int SET @i = 0 WHILE 1 = 1 SET @i = 0", 1);
  ASSERT_FALSE(loop.diags.empty());
  EXPECT_EQ(loop.diags[0].state, "HYT00");
  EXPECT_EQ(single(c->execute("SELECT 8 AS eight")), "8");
}

TEST_F(Odbc, ClosingAStatementBeforeItsEndIsAcknowledged) {
  auto c = open("Database=Sample;");
  {
    bvtest::odbc::Handle stmt(SQL_HANDLE_STMT, c->hdbc());
    auto text = bvtest::odbc::widen("SELECT * FROM Customers SELECT * FROM Orders");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirectW(stmt.get(), reinterpret_cast<SQLWCHAR*>(text.data()),
                                             static_cast<SQLINTEGER>(text.size()))));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt.get())));
  }  // freed with rows unread: the driver sends an attention
  EXPECT_EQ(single(c->execute("SELECT COUNT(*) FROM Orders")), "5");
}

TEST_F(Odbc, PreparedStatementsRunAndRunAgain) {
  auto c = open("Database=Sample;");
  const auto r = c->prepareAndExecute("SELECT COUNT(*) AS n FROM Customers", 3);
  EXPECT_FALSE(r.anyError) << (r.diags.empty() ? "" : r.diags[0].text);
  EXPECT_EQ(single(r), "4");
}

TEST_F(Odbc, ManyClientsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      Connection c;
      if (!c.connect(standin.odbcConnectionString("Database=Sample;"))) return;
      bool ok = true;
      for (int i = 0; i < 10; ++i) {
        const auto r = c.execute("SELECT " + std::to_string(t * 100 + i) + " AS v");
        ok = ok && single(r) == std::to_string(t * 100 + i);
      }
      if (ok) ++good;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(good.load(), 6);
}

// ---------- backups to one file from many clients ----------

namespace {

// Runs `statements(client)` on `clients` connections at once (all logged in before any starts);
// gives the number of statements that reported success.
int runConcurrently(StandinFixture& standin, int clients,
                    const std::function<std::vector<std::string>(int)>& statements) {
  std::latch start(clients);
  std::atomic<int> successes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < clients; ++t) {
    threads.emplace_back([&, t] {
      Connection c;
      const bool connected = c.connect(standin.odbcConnectionString());
      start.arrive_and_wait();
      if (!connected) return;
      for (const auto& sql : statements(t)) {
        const auto r = c.execute(sql);
        if (!r.anyError && r.hasNative(3014)) ++successes;
      }
    });
  }
  for (auto& th : threads) th.join();
  return successes.load();
}

}  // namespace

TEST_F(Odbc, NoInitBackupsFromManyClientsKeepEverySetReportedAsASuccess) {
  const auto file = standin.scratchDir() / "shared.bak";
  const int reported = runConcurrently(standin, 16, [&](int client) {
    std::vector<std::string> out;
    for (int round = 0; round < 2; ++round)
      out.push_back("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH NOINIT, NAME = N'c" +
                    std::to_string(client) + "r" + std::to_string(round) + "'");
    return out;
  });
  EXPECT_EQ(reported, 32);
  const auto read = standin::backup::readBackupFile(file, false);
  ASSERT_EQ(read.status, standin::backup::BackupReadStatus::Ok);
  EXPECT_EQ(static_cast<int>(read.sets.size()), reported);
  std::set<std::string> names;
  for (std::size_t i = 0; i < read.sets.size(); ++i) {
    EXPECT_EQ(read.sets[i].info.position, i + 1);
    names.insert(read.sets[i].info.backupName);
  }
  EXPECT_EQ(names.size(), read.sets.size());
}

TEST_F(Odbc, InitBackupsFromManyClientsLeaveExactlyOneCompleteSet) {
  const auto file = standin.scratchDir() / "shared.bak";
  const int reported = runConcurrently(standin, 16, [&](int client) {
    std::vector<std::string> out;
    for (int round = 0; round < 3; ++round)
      out.push_back("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH INIT, NAME = N'c" +
                    std::to_string(client) + "'");
    return out;
  });
  EXPECT_EQ(reported, 48);
  const auto read = standin::backup::readBackupFile(file, true);
  ASSERT_EQ(read.status, standin::backup::BackupReadStatus::Ok);
  ASSERT_EQ(read.sets.size(), 1u);
  EXPECT_EQ(read.sets[0].info.backupName.rfind("c", 0), 0u);
  EXPECT_EQ(read.sets[0].content.rfind(std::string("SQLite format 3\0", 16), 0), 0u);
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(standin.scratchDir()), {}), 1);
}

namespace {

int rawConnect(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TEST_F(Odbc, GarbageAndAbruptClientsCostOnlyTheirOwnSession) {
  auto steady = open("Database=Sample;");
  {
    const int fd = rawConnect(standin.port());
    ASSERT_GE(fd, 0);
    const std::string junk = "GET / HTTP/1.0\r\n\r\n and more bytes that are not TDS at all";
    ASSERT_GT(::send(fd, junk.data(), junk.size(), 0), 0);
    char buf[64];
    EXPECT_LE(::recv(fd, buf, sizeof buf, 0), 0);  // the server closes this connection
    ::close(fd);
  }
  {
    const int fd = rawConnect(standin.port());
    const unsigned char half[] = {0x12, 0x01, 0x00, 0x40, 0x00, 0x00};  // a header cut short, then gone
    ASSERT_GT(::send(fd, half, sizeof half, 0), 0);
    ::close(fd);
  }
  {
    const int fd = rawConnect(standin.port());
    // a LOGIN7 whose fields point outside the packet
    std::string login(8 + 94, '\0');
    login[0] = 0x10;
    login[1] = 0x01;
    login[2] = 0x00;
    login[3] = static_cast<char>(login.size());
    login[8 + 36] = static_cast<char>(0xF0);
    login[8 + 38] = 0x7F;
    ASSERT_GT(::send(fd, login.data(), login.size(), 0), 0);
    char buf[64];
    EXPECT_LE(::recv(fd, buf, sizeof buf, 0), 0);
    ::close(fd);
  }
  EXPECT_EQ(single(steady->execute("SELECT COUNT(*) FROM Customers")), "4");
  auto fresh = open();
  EXPECT_EQ(single(fresh->execute("SELECT DB_NAME()")), "master");
}

TEST_F(Odbc, AClientThatVanishesMidBatchReleasesItsDatabase) {
  {
    auto c = open("Database=Sample;");
    c->execute("BEGIN TRANSACTION INSERT INTO Customers VALUES (300, 'gone', NULL)");
  }  // disconnected with the transaction open
  auto admin = open();
  const auto r = admin->execute(restoreStatement("Sample", (standin.scratchDir() / "none.bak").string()));
  // The failure is about the missing file, not about the database being in use.
  EXPECT_FALSE(contains(natives(r.diags), 3101));
  EXPECT_TRUE(contains(natives(r.diags), 3201));
  EXPECT_EQ(standin.rowCount("Sample", "Customers"), 4);
}

// ---------- sizes, parameters, text ----------

TEST_F(Odbc, LargeRepliesAndLongRequestsCrossPacketBoundaries) {
  standin.executeSqlite(
      "Sample",
      "CREATE TABLE Big (id INTEGER PRIMARY KEY, txt NVARCHAR(200)); WITH RECURSIVE n(i) AS (SELECT 1 "
      "UNION ALL SELECT i + 1 FROM n WHERE i < 3000) INSERT INTO Big SELECT i, printf('row %05d %s', i, "
      "'ñ日本') FROM n;");
  auto c = open("Database=Sample;");
  const auto r = c->execute("SELECT id, txt FROM Big ORDER BY id");
  ASSERT_EQ(r.sets.size(), 1u);
  ASSERT_EQ(r.sets[0].rows.size(), 3000u);
  EXPECT_EQ(r.sets[0].rows[2999][1].value_or(""), "row 03000 ñ日本");
  // a batch of many packets (4096 bytes each): a long comment and a long literal
  const std::string longText(6000, 'z');
  const auto lit = c->execute("/* " + std::string(5000, '-') + " */ SELECT LEN('" + longText + "') AS n");
  EXPECT_EQ(single(lit), "6000");
}

TEST_F(Odbc, TextOutsideTheBasicPlaneRoundTrips) {
  auto c = open();
  EXPECT_EQ(single(c->execute("SELECT N'𝄞 Ω 漢字' AS t")), "𝄞 Ω 漢字");
}

TEST_F(Odbc, BoundParametersArriveAsExecuteSqlAndWork) {
  auto c = open("Database=Sample;");
  bvtest::odbc::Handle stmt(SQL_HANDLE_STMT, c->hdbc());
  SQLINTEGER id = 3;
  SQLLEN idLength = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(
      SQLBindParameter(stmt.get(), 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, &idLength)));
  std::u16string name = bvtest::odbc::widen("Sapp%");
  SQLLEN nameLength = static_cast<SQLLEN>(name.size() * sizeof(char16_t));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLBindParameter(stmt.get(), 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 50, 0,
                                             name.data(), nameLength, &nameLength)));
  auto sql = bvtest::odbc::widen("SELECT Name FROM Customers WHERE CustomerID = ? AND City LIKE ?");
  const SQLRETURN rc = SQLExecDirectW(stmt.get(), reinterpret_cast<SQLWCHAR*>(sql.data()),
                                      static_cast<SQLINTEGER>(sql.size()));
  ASSERT_TRUE(SQL_SUCCEEDED(rc)) << (bvtest::odbc::diagnostics(SQL_HANDLE_STMT, stmt.get()).empty()
                                         ? ""
                                         : bvtest::odbc::diagnostics(SQL_HANDLE_STMT, stmt.get())[0].text);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt.get())));
  SQLWCHAR buf[64];
  SQLLEN len = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt.get(), 1, SQL_C_WCHAR, buf, sizeof buf, &len)));
  EXPECT_EQ(bvtest::odbc::narrow(buf, static_cast<std::size_t>(len) / sizeof(SQLWCHAR)), "Brackenvale Ltd");
  EXPECT_EQ(SQLFetch(stmt.get()), SQL_NO_DATA);
}

TEST_F(Odbc, ADatabaseNameWithABracketIsBackedUpAndRestored) {
  auto c = open();
  ASSERT_FALSE(c->execute("CREATE DATABASE [Q]]uarter]").anyError);
  const auto file = (standin.scratchDir() / "q.bak").string();
  const auto b = c->execute(backupBatch("Q]uarter", file, true));
  EXPECT_FALSE(b.anyError) << (b.diags.empty() ? "" : b.diags[0].text);
  EXPECT_TRUE(b.hasNative(3262));
  const auto r = c->execute(restoreStatement("Q]uarter", file));
  EXPECT_FALSE(r.anyError) << (r.diags.empty() ? "" : r.diags[0].text);
  EXPECT_TRUE(r.hasNative(3014));
}
