// The data folder keeps its secrets: the folder and every file in it are the owner's only, the
// sa password is kept only as a hash made for passwords, a generated password lives in an
// owner-only file of its own, and a folder left by an earlier version (plain-text password,
// open modes) is brought up to that on start. Tests run as root, who reads any file, so they
// check the mode bits rather than access.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine_support.h"

using namespace standintest;
using standin::engine::Engine;
using standin::engine::EngineConfig;

namespace {

unsigned modeOf(const std::filesystem::path& p) {
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

std::string bytesOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool fileHolds(const std::filesystem::path& file, const std::string& text) {
  return bytesOf(file).find(text) != std::string::npos;
}

// Every folder under `dir` (itself included) is 0700 and every file 0600; the exceptions listed.
std::vector<std::string> openEntries(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  if (modeOf(dir) != 0700) out.push_back(dir.string() + " " + std::to_string(modeOf(dir)));
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    const unsigned want = e.is_directory() ? 0700 : 0600;
    if (modeOf(e.path()) != want) out.push_back(e.path().string() + " " + std::to_string(modeOf(e.path())));
  }
  return out;
}

EngineConfig configFor(const std::filesystem::path& dataDir, const std::string& password) {
  EngineConfig c;
  c.dataDir = dataDir;
  c.recordFile = bvtest::nextRecordingFile();
  c.saPassword = password;
  c.computerName = "TESTBOX";
  c.startAgent = false;
  return c;
}

bool logsIn(Engine& engine, const std::string& password) {
  standin::engine::LoginRequest r;
  r.user = "sa";
  r.password = password;
  return engine.login(r).session != nullptr;
}

std::string storedPassword(Engine& engine) {
  const auto rows = engine.query("master", "SELECT password FROM syslogins WHERE name = 'sa'");
  return rows.empty() || rows[0].empty() || !rows[0][0] ? std::string() : *rows[0][0];
}

std::string firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

TEST_F(EngineTest, TheDataFolderAndEveryFileInItAreTheOwnersOnly) {
  ASSERT_FALSE(run("CREATE DATABASE Extra").failed());
  const auto data = engine_->dataDir();
  EXPECT_TRUE(std::filesystem::is_directory(data / "Backup"));
  EXPECT_EQ(openEntries(data), std::vector<std::string>{});

  // A transaction's journal is the owner's only too, while it exists.
  auto writer = login("Sample");
  ASSERT_FALSE(
      writer->executeBatch("BEGIN TRANSACTION INSERT INTO Customers VALUES (77, 'x', NULL)").failed());
  const auto journal = std::filesystem::path(engine_->databaseFile("Sample")->string() + "-journal");
  ASSERT_TRUE(std::filesystem::exists(journal));
  EXPECT_EQ(modeOf(journal), 0600u);
  writer->executeBatch("ROLLBACK");

  // Backups (into the folder's Backup folder and elsewhere) and restored databases as well.
  ASSERT_FALSE(run("BACKUP DATABASE Sample TO DISK = 'inside.bak' WITH INIT").failed());
  ASSERT_FALSE(run(backupBatch("Sample", scratch("outside.bak").string(), true)).failed());
  EXPECT_EQ(modeOf(scratch("outside.bak")), 0600u);
  ASSERT_FALSE(run(restoreStatement("Restored", scratch("outside.bak").string())).failed());
  EXPECT_EQ(openEntries(data), std::vector<std::string>{});
}

TEST(DataFolder, AGivenPasswordIsKeptOnlyAsAPasswordHash) {
  bvtest::TempDir dir("bv-secrets");
  const std::string password = "Given;pw'1";
  Engine engine(configFor(dir.path() / "data", password));
  const std::string stored = storedPassword(engine);
  EXPECT_EQ(stored.rfind("$argon2id$", 0), 0u) << stored;
  EXPECT_FALSE(fileHolds(dir.path() / "data" / "master.sqlite", password));
  EXPECT_FALSE(
      std::filesystem::exists(dir.path() / "data" / "sa-password"));  // nothing keeps a given password
  EXPECT_TRUE(logsIn(engine, password));
  EXPECT_FALSE(logsIn(engine, "Given;pw'2"));
  EXPECT_FALSE(logsIn(engine, stored));  // the hash is no password
}

TEST(DataFolder, AGeneratedPasswordLivesInAnOwnerOnlyFileOfItsOwn) {
  bvtest::TempDir dir("bv-secrets");
  const auto data = dir.path() / "data";
  std::string password;
  {
    Engine engine(configFor(data, ""));
    ASSERT_TRUE(engine.saPasswordGenerated());
    password = engine.saPassword();
    ASSERT_FALSE(password.empty());
    EXPECT_EQ(modeOf(data / "sa-password"), 0600u);
    EXPECT_EQ(firstLine(data / "sa-password"), password);
    EXPECT_FALSE(fileHolds(data / "master.sqlite", password));
    EXPECT_EQ(storedPassword(engine).rfind("$argon2id$", 0), 0u);
    EXPECT_TRUE(logsIn(engine, password));
  }
  // The next start keeps it, and says so.
  Engine again(configFor(data, ""));
  EXPECT_FALSE(again.saPasswordGenerated());
  EXPECT_EQ(again.saPassword(), password);
  EXPECT_TRUE(logsIn(again, password));
  EXPECT_EQ(openEntries(data), std::vector<std::string>{});
}

TEST(DataFolder, AFolderOfAnEarlierVersionIsMigratedOnStart) {
  bvtest::TempDir dir("bv-secrets");
  const auto data = dir.path() / "data";
  const std::string oldPassword = "Sa-OldPlainText7";
  {
    Engine engine(configFor(data, "anything"));
    // What an earlier version left: the password in plain text in master, open modes.
    engine.execute("master", "UPDATE syslogins SET password = '" + oldPassword + "' WHERE name = 'sa'");
  }
  ASSERT_TRUE(fileHolds(data / "master.sqlite", oldPassword));
  std::filesystem::permissions(data, std::filesystem::perms(0755));
  for (const auto& e : std::filesystem::recursive_directory_iterator(data))
    std::filesystem::permissions(e.path(), std::filesystem::perms(e.is_directory() ? 0755 : 0644));

  Engine engine(configFor(data, ""));
  EXPECT_FALSE(engine.saPasswordGenerated());
  EXPECT_EQ(engine.saPassword(), oldPassword);
  EXPECT_TRUE(logsIn(engine, oldPassword));
  EXPECT_EQ(storedPassword(engine).rfind("$argon2id$", 0), 0u);
  EXPECT_FALSE(fileHolds(data / "master.sqlite", oldPassword));
  EXPECT_EQ(firstLine(data / "sa-password"), oldPassword);
  EXPECT_EQ(openEntries(data), std::vector<std::string>{});
}
