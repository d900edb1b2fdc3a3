// The recording that compares two builds: each session's exchanges in one block, in order,
// interleaved with no other session's; a failed login is a block of its own; no password.
#include <gtest/gtest.h>

#include <fstream>

#include "engine_support.h"

TEST(Recording, KeepsEachSessionsExchangesTogetherAndNoPassword) {
  bvtest::TempDir dir("bv-record");
  const auto file = dir.path() / "engine.rec";
  {
    standin::engine::EngineConfig config;
    config.dataDir = dir.path() / "data";
    config.saPassword = "pw";
    config.startAgent = false;
    config.recordFile = file;
    standin::engine::Engine recording(config);
    auto first = recording.login({"sa", "pw", "", "us_english", "host", "app", false}).session;
    auto second = recording.login({"sa", "pw", "Sample", "", "host", "app", false}).session;
    first->executeBatch("SELECT 1 AS one");
    second->executeBatch("RAISERROR('no', 16, 2)");
    first->callProcedure("sp_executesql",
                         {{"", standin::sql::SqlType::nvarchar(20), std::string("PRINT 'x'")}});
    first->beginTransaction();
    EXPECT_TRUE(recording.login({"sa", "wrong-pw", "", "", "host", "app", false}).errors.size() == 1);
  }
  std::ifstream in(file);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text,
            "@@ login user sa, database (default), app app, language \n"
            "  message 18456 severity 14 state 1 line 1: 'Login failed for user \\'sa\\'.'\n"
            "@@ end\n"
            "@@ login user sa, database Sample, app app, language \n"
            "  note 'logged in to Sample'\n"
            "> batch 'RAISERROR(\\'no\\', 16, 2)'\n"
            "  message 50000 severity 16 state 2 line 1: 'no'\n"
            "  done error other\n"
            "@@ end\n"
            "@@ login user sa, database (default), app app, language us_english\n"
            "  note 'logged in to master'\n"
            "> batch 'SELECT 1 AS one'\n"
            "  columns: 'one' int null;\n"
            "  row: 1;\n"
            "  done count 1 select\n"
            "> rpc 'sp_executesql\\n(positional) nvarchar(20) = \\'PRINT \\\\\\'x\\\\\\'\\''\n"
            "  message 0 severity 0 state 1 line 1: 'x'\n"
            "  return status 0\n"
            "  procedure done\n"
            "> transaction 'begin'\n"
            "  envchange begin-transaction 0x0100000000000000 0x\n"
            "@@ end\n");
}
