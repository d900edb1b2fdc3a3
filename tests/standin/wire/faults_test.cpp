// Faults on demand, as the program's own tests use them: a session dropped as a request arrives
// or part-way through its reply, a request or a login held for a while. Through the driver where
// the program's tests will use them, and through a raw client where the bytes matter.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "engine_support.h"
#include "odbc_client.h"
#include "raw_tds_client.h"
#include "standin/base/text.h"
#include "standin/backup/backup_file.h"
#include "standin/host/host.h"
#include "standin/wire/faults.h"
#include "standin/wire/tds_protocol.h"
#include "standin_fixture.h"

using namespace std::chrono_literals;
using bvtest::StandinFixture;
using bvtest::StandinOptions;
using bvtest::odbc::Connection;
using bvtest::odbc::Diag;
using standin::wire::Fault;
using standin::wire::parseFault;
using standintest::RawTdsClient;

namespace {

StandinOptions withFaults(std::vector<std::string> faults) {
  StandinOptions o;
  o.faults = std::move(faults);
  return o;
}

std::string bytesOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What FreeTDS reports when the server closes the connection in the middle of a reply.
bool connectionLost(const std::vector<Diag>& diags) {
  for (const auto& d : diags)
    if (d.native == 20017) return true;  // "Unexpected EOF from the server"
  return false;
}

std::string single(const bvtest::odbc::Result& r) {
  if (r.sets.empty() || r.sets[0].rows.empty() || !r.sets[0].rows[0][0]) return "<none>";
  return *r.sets[0].rows[0][0];
}

}  // namespace

// ---------- the written forms ----------

TEST(FaultSpec, EachActionWithItsValueTimesAndMatch) {
  const auto drop = parseFault("drop:match=BACKUP");
  ASSERT_TRUE(drop);
  EXPECT_EQ(drop->action, Fault::Action::Drop);
  EXPECT_EQ(drop->match, "BACKUP");
  EXPECT_EQ(drop->times, 0);
  const auto cut = parseFault("drop-after-bytes=100:times=2:match=RESTORE DATABASE [a:b]");
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->action, Fault::Action::DropAfterBytes);
  EXPECT_EQ(cut->bytes, 100u);
  EXPECT_EQ(cut->times, 2);
  EXPECT_EQ(cut->match, "RESTORE DATABASE [a:b]") << "match takes the rest, colons included";
  const auto stall = parseFault("stall=2000ms:match=BACKUP");
  ASSERT_TRUE(stall);
  EXPECT_EQ(stall->action, Fault::Action::Stall);
  EXPECT_EQ(stall->duration, 2000ms);
  const auto between = parseFault("stall-between=2s:match=VERIFYONLY");
  ASSERT_TRUE(between);
  EXPECT_EQ(between->action, Fault::Action::StallBetween);
  EXPECT_EQ(between->duration, 2s);
  EXPECT_EQ(between->match, "VERIFYONLY");
  const auto login = parseFault("stall-login=3s:times=1");
  ASSERT_TRUE(login);
  EXPECT_EQ(login->action, Fault::Action::StallLogin);
  EXPECT_EQ(login->duration, 3s);
  EXPECT_EQ(login->times, 1);
  for (const char* bad :
       {"", "explode", "drop=1", "drop-after-bytes", "drop-after-bytes=x", "stall=soon",
        "stall=2000ms:times=0", "stall=1s:often", "drop:match=", "stall-login=1s:match=x", "stall-between"}) {
    std::string why;
    EXPECT_FALSE(parseFault(bad, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

TEST(FaultSpec, MatchIgnoresCaseAndSpacingAndTimesCountsOverTheServer) {
  standin::wire::FaultPlan plan({*parseFault("drop:times=2:match=restore  database"), *parseFault("stall=1s"),
                                 *parseFault("stall-login=1s:times=1")});
  // As the program sends it: the words on lines of their own.
  EXPECT_EQ(plan.forRequest("RESTORE \r\nDATABASE [Sample]\r\nFROM DISK = N'x'").size(), 2u);
  EXPECT_EQ(plan.forRequest("SELECT 1").size(), 1u) << "only the fault without match";
  EXPECT_EQ(plan.forRequest("restore database x").size(), 2u);
  EXPECT_EQ(plan.forRequest("restore database x").size(), 1u) << "the drop has had its two";
  EXPECT_TRUE(plan.loginStall());
  EXPECT_FALSE(plan.loginStall());
}

TEST(FaultSpec, StatementFaultsAreTheEnginesAndCountedThere) {
  const auto throttle = parseFault("throttle=65536:times=1:match=BACKUP");
  ASSERT_TRUE(throttle);
  EXPECT_EQ(throttle->action, Fault::Action::Throttle);
  EXPECT_EQ(throttle->bytes, 65536u);
  for (const char* bad : {"throttle", "throttle=0", "throttle=fast"}) EXPECT_FALSE(parseFault(bad)) << bad;
  // The TDS server leaves them alone; the engine gets them, matched as the others are.
  standin::wire::FaultPlan plan({*throttle});
  EXPECT_TRUE(plan.forRequest("BACKUP DATABASE x").empty());
  standin::base::StatementFaults engine;
  engine.set(standin::wire::statementFaults({*throttle, *parseFault("drop")}));
  using Kind = standin::base::StatementFault::Kind;
  EXPECT_FALSE(engine.take(Kind::Throttle, {"RESTORE DATABASE x"}));
  EXPECT_TRUE(engine.take(Kind::Throttle, {"SELECT 1", "backup\r\n  database x"}));
  EXPECT_FALSE(engine.take(Kind::Throttle, {"BACKUP DATABASE x"})) << "times=1";

  // damage-restore takes no value; volume-free holds for every reading, so it has no times=.
  const auto damage = parseFault("damage-restore:times=1:match=Brackenvale_check");
  const auto full = parseFault("volume-free=1048576:match=/srv/data");
  ASSERT_TRUE(damage && full);
  for (const char* bad : {"damage-restore=1", "volume-free", "volume-free=lots", "volume-free=1:times=2"})
    EXPECT_FALSE(parseFault(bad)) << bad;
  EXPECT_TRUE(standin::wire::FaultPlan({*damage, *full}).forRequest("RESTORE DATABASE Brackenvale_check_1").empty());
  engine.set(standin::wire::statementFaults({*damage, *full}));
  EXPECT_FALSE(engine.take(Kind::DamageRestore, {"Sample"}));
  EXPECT_TRUE(engine.take(Kind::DamageRestore, {"Brackenvale_check_20261208_5"}));
  EXPECT_FALSE(engine.take(Kind::DamageRestore, {"Brackenvale_check_20261208_5"})) << "times=1";
  for (int i = 0; i < 3; ++i) {
    const auto f = engine.find(Kind::VolumeFree, {"/srv/data/x.mdf"});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->amount, 1048576u);
  }
  EXPECT_FALSE(engine.find(Kind::VolumeFree, {"/tmp/x.mdf"}));
}

// The faults for the safety mends: each written form, what the engine gets of it, and the
// forms refused.
TEST(FaultSpec, HoldOccupyAndBreakRestoreAreTheEngines) {
  using Kind = standin::base::StatementFault::Kind;
  struct Case {
    const char* written;
    Kind kind;
    std::uint64_t amount;
    int times;
  };
  for (const auto& c :
       std::vector<Case>{{"hold=30s:times=2:match=DROP DATABASE", Kind::Hold, 30000, 2},
                         {"hold=250ms", Kind::Hold, 250, 0},
                         {"occupy-restore:match=Brackenvale_check", Kind::OccupyRestore, 0, 0},
                         {"break-restore:times=1:match=x", Kind::BreakRestore, 0, 1}}) {
    SCOPED_TRACE(c.written);
    const auto f = parseFault(c.written);
    ASSERT_TRUE(f);
    EXPECT_TRUE(standin::wire::FaultPlan({*f}).forRequest("RESTORE DATABASE x DROP DATABASE").empty());
    const auto engine = standin::wire::statementFaults({*f});
    ASSERT_EQ(engine.size(), 1u);
    EXPECT_EQ(engine[0].kind, c.kind);
    EXPECT_EQ(engine[0].amount, c.amount);
    EXPECT_EQ(engine[0].times, c.times);
  }
  for (const char* bad : {"hold", "hold=soon", "occupy-restore=1", "break-restore=yes"})
    EXPECT_FALSE(parseFault(bad)) << bad;
}

TEST(FaultSpec, TheCommandLineTakesRepeatedFaults) {
  const auto cl = standin::host::parseCommandLine({"--fault", "drop:match=BACKUP", "--fault=stall-login=2s"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  ASSERT_EQ(cl.options.faults.size(), 2u);
  EXPECT_EQ(cl.options.faults[1].action, Fault::Action::StallLogin);
  EXPECT_NE(standin::host::parseCommandLine({"--fault", "melt"}).error.find("--fault"), std::string::npos);
  EXPECT_THROW(StandinFixture(withFaults({"melt"})), std::invalid_argument);
}

// ---------- drop ----------

TEST(Faults, ServerGoneMidBackupLeavesTheEarlierFileAndOtherSessions) {
  StandinFixture standin(withFaults({"drop:times=1:match=BACKUP"}));
  const auto file = standin.scratchDir() / "kept.bak";
  Connection first;
  ASSERT_TRUE(first.connect(standin.odbcConnectionString()));
  const auto bystander = std::make_unique<Connection>();
  ASSERT_TRUE(bystander->connect(standin.odbcConnectionString("Database=Sample;")));
  // The file as an earlier backup left it.
  { std::ofstream(file, std::ios::binary) << "earlier media"; }
  const auto r = first.execute(standintest::backupBatch("Sample", file.string(), true));
  EXPECT_EQ(r.rc, SQL_ERROR);
  EXPECT_TRUE(connectionLost(r.diags));
  EXPECT_TRUE(bytesOf(file) == "earlier media");
  EXPECT_EQ(single(bystander->execute("SELECT COUNT(*) FROM Customers")), "4");
  // times=1: the next backup goes through.
  Connection again;
  ASSERT_TRUE(again.connect(standin.odbcConnectionString()));
  const auto ok =
      again.execute(standintest::backupBatch("Sample", (standin.scratchDir() / "new.bak").string(), true));
  EXPECT_FALSE(ok.anyError) << (ok.diags.empty() ? "" : ok.diags[0].text);
}

TEST(Faults, ARestoreCutOffLeavesTheDatabaseAsItWas) {
  StandinFixture standin(
      withFaults({"drop-after-bytes=12:match=RESTORE DATABASE", "drop:times=1:match=RESTORE"}));
  const auto file = (standin.scratchDir() / "r.bak").string();
  Connection admin;
  ASSERT_TRUE(admin.connect(standin.odbcConnectionString()));
  ASSERT_FALSE(admin.execute(standintest::backupBatch("Sample", file, false)).anyError);
  standin.executeSqlite("Sample", "DELETE FROM Orders");
  // Dropped as it arrives: it never ran.
  const auto r = admin.execute(standintest::restoreStatement("Sample", file));
  EXPECT_EQ(r.rc, SQL_ERROR);
  EXPECT_TRUE(connectionLost(r.diags));
  EXPECT_EQ(standin.rowCount("Sample", "Orders"), 0);
  // Cut in its reply: it ran to its end, whole, and the client only lost the answer.
  Connection second;
  ASSERT_TRUE(second.connect(standin.odbcConnectionString()));
  const auto cut = second.execute(standintest::restoreStatement("Sample", file));
  EXPECT_EQ(cut.rc, SQL_ERROR);
  EXPECT_TRUE(connectionLost(cut.diags));

  EXPECT_GT(standin.rowCount("Sample", "Orders"), 0);
  EXPECT_EQ(standin.querySqlite("Sample", "PRAGMA integrity_check")[0][0].value_or(""), "ok");
  // Nothing but the data folder's own files is left behind.
  for (const auto& e : std::filesystem::directory_iterator(standin.dataDir()))
    EXPECT_EQ(e.path().string().find(".partial-"), std::string::npos) << e.path();
}

TEST(Faults, DropAfterBytesSendsExactlyThatMuchOfTheMatchingReply) {
  StandinFixture standin(withFaults({"drop-after-bytes=20:match=select 'cut'"}));
  RawTdsClient plain(standin.port());
  ASSERT_TRUE(plain.logIn(standin.saPassword()));
  const auto whole = plain.batch("SELECT 'whole' AS v");
  ASSERT_TRUE(whole);
  EXPECT_GT(whole->size() + 8, 20u);
  RawTdsClient client(standin.port());
  ASSERT_TRUE(client.logIn(standin.saPassword()));
  ASSERT_TRUE(
      client.sendMessage(standin::wire::kSqlBatch, standin::base::utf8ToUtf16le("SELECT 'CUT' AS v")));
  const auto rest = client.readUntilClosed(10s);
  EXPECT_TRUE(rest.closed);
  EXPECT_EQ(rest.bytes.size(), 20u);
  // Other sessions go on.
  const auto after = plain.batch("SELECT 'still here' AS v");
  ASSERT_TRUE(after);
  EXPECT_TRUE(standintest::endsWithoutError(*after));
}

// ---------- stall ----------

TEST(Faults, AStalledRequestSendsNothingForItsTimeThenRunsAsUsual) {
  StandinFixture standin(withFaults({"stall=700ms:match=BACKUP"}));
  const auto file = standin.scratchDir() / "held.bak";
  Connection c;
  ASSERT_TRUE(c.connect(standin.odbcConnectionString()));
  const auto start = std::chrono::steady_clock::now();
  const auto r = c.execute(standintest::backupBatch("Sample", file.string(), true));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(r.anyError) << (r.diags.empty() ? "" : r.diags[0].text);
  EXPECT_TRUE(r.hasNative(3014));
  EXPECT_GE(took, 700ms);
  EXPECT_EQ(standin::backup::readBackupFile(file, false).sets.size(), 1u);

  // Nothing at all arrives while it is held.
  RawTdsClient raw(standin.port());
  ASSERT_TRUE(raw.logIn(standin.saPassword()));
  ASSERT_TRUE(
      raw.sendMessage(standin::wire::kSqlBatch, standin::base::utf8ToUtf16le("PRINT 'BACKUP later'")));
  EXPECT_TRUE(raw.silentFor(500ms));
  const auto reply = raw.readReply(10s);
  ASSERT_TRUE(reply);
  EXPECT_TRUE(standintest::endsWithoutError(*reply));
}

TEST(Faults, AStalledLoginEndsAtTheClientsLoginTimeout) {
  StandinFixture standin(withFaults({"stall-login=4s:times=1"}));
  Connection c;
  std::vector<Diag> diags;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(c.connect(standin.odbcConnectionString(), &diags, 1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << "the client gave up before the server answered";
  EXPECT_FALSE(diags.empty());
  // times=1: the next login is answered at once.
  Connection next;
  EXPECT_TRUE(next.connect(standin.odbcConnectionString(), nullptr, 5));
}

// ---------- hold ----------

// A backup held inside its batch: another connection sees it running and its file not yet
// written until the test lets it go; a fixture that goes while a statement is held lets it go.
TEST(Faults, AHeldStatementWaitsForTheTestThroughTheDriver) {
  std::filesystem::path media;
  std::thread late;
  {
    StandinFixture standin(withFaults({"hold=60s:match=BACKUP DATABASE"}));
    media = standin.scratchDir() / "held.bak";
    bvtest::odbc::Result backup;
    std::thread road([&] {
      Connection c;
      ASSERT_TRUE(c.connect(standin.odbcConnectionString()));
      backup = c.execute("PRINT N'first'\r\nBACKUP DATABASE [Sample] TO DISK = N'" + media.string() +
                         "' WITH INIT");
    });
    ASSERT_TRUE(standin.waitForHeldStatements(1));
    EXPECT_EQ(standin.heldStatements(), 1);
    Connection other;
    ASSERT_TRUE(other.connect(standin.odbcConnectionString()));
    EXPECT_EQ(single(other.execute("SELECT command FROM sys.dm_exec_requests WHERE session_id <> @@SPID")),
              "BACKUP DATABASE");
    EXPECT_FALSE(std::filesystem::exists(media));
    standin.releaseHeldStatements();
    road.join();
    EXPECT_FALSE(backup.anyError);
    EXPECT_TRUE(std::filesystem::exists(media));

    // Held again, and the fixture goes: the statement is let go and nothing hangs.
    const std::string connection = standin.odbcConnectionString();
    late = std::thread([connection, media] {
      Connection c;
      if (c.connect(connection)) c.execute("BACKUP DATABASE [Sample] TO DISK = N'" + media.string() + "'");
    });
    ASSERT_TRUE(standin.waitForHeldStatements(1));
  }
  late.join();
}

// ---------- restart as another release ----------

// The same data folder under another release: a job registered under one is still there, with
// its step, and the Agent runs it under the next (msdb's tables rebuilt, rows kept).
TEST(Faults, RestartAsAnotherReleaseKeepsTheJobsAndRunsThem) {
  StandinFixture standin;
  {
    Connection c;
    ASSERT_TRUE(c.connect(standin.odbcConnectionString()));
    const auto r = c.execute(
        "DECLARE @id uniqueidentifier; EXEC msdb.dbo.sp_add_job @job_name = N'kept', @job_id = @id OUTPUT;"
        " EXEC msdb.dbo.sp_add_jobstep @job_id = @id, @step_name = N'one', @command = N'CREATE TABLE t (a "
        "int)',"
        " @database_name = N'Sample'; EXEC msdb.dbo.sp_add_jobserver @job_id = @id");
    ASSERT_FALSE(r.anyError) << r.diags.front().text;
  }
  int runs = 0;
  for (const int year : {2019, 2000, 2008}) {
    SCOPED_TRACE(year);
    standin.restartAs(year);
    EXPECT_EQ(standin.serverVersion(), year);
    Connection c;
    ASSERT_TRUE(c.connect(standin.odbcConnectionString()));
    EXPECT_EQ(single(c.execute("SELECT SERVERPROPERTY('ProductVersion')")).substr(0, 2),
              standin.engine().version().versionString().substr(0, 2));
    EXPECT_EQ(single(c.execute("SELECT COUNT(*) FROM msdb.dbo.sysjobsteps")), "1");
    c.execute("DROP TABLE Sample.dbo.t");
    EXPECT_FALSE(c.execute("EXEC msdb.dbo.sp_start_job @job_name = N'kept'").anyError);
    ++runs;
    EXPECT_EQ(
        single(c.execute("SELECT COUNT(*) FROM msdb.dbo.sysjobhistory WHERE step_id = 1 AND run_status = 1")),
        std::to_string(runs));
    // One session per start of the Agent; 2000 keeps none, and its start takes the table away.
    const auto sessions = c.execute("SELECT COUNT(*) FROM msdb.dbo.syssessions");
    EXPECT_EQ(year == 2000 ? std::string(sessions.hasNative(208) ? "208" : "?") : single(sessions),
              year == 2019   ? "2"
              : year == 2000 ? "208"
                             : "1");
  }
}
