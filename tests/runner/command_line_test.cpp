#include <gtest/gtest.h>

#include "core/maintenance/command_builder.h"
#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "runner/runner.h"

namespace bv::runner {
namespace {

using Words = std::vector<std::string>;

bv::maintenance::BackupRequest sampleBackup() {
  bv::maintenance::BackupRequest backup;
  backup.login.useSqlAuth = true;
  backup.login.userName = "sa";
  backup.login.password = "pa;ss'word";
  backup.login.server = "127.0.0.1,1433";
  backup.database = "売上";
  backup.backupFile = "D:\\backup dir\\売上_%date%.bak";
  backup.verify = true;
  return backup;
}

void expectSame(const bv::maintenance::BackupRequest& a, const bv::maintenance::BackupRequest& b) {
  EXPECT_EQ(a.login.useSqlAuth, b.login.useSqlAuth);
  EXPECT_EQ(a.login.userName, b.login.userName);
  EXPECT_EQ(a.login.password, b.login.password);
  EXPECT_EQ(a.login.server, b.login.server);
  EXPECT_EQ(a.database, b.database);
  EXPECT_EQ(a.backupFile, b.backupFile);
  EXPECT_EQ(a.verify, b.verify);
}

TEST(ParseCommandLine, TheParameterStringAndTheWordsGiveTheSameBackup) {
  const bv::maintenance::BackupRequest backup = sampleBackup();
  const std::string parameters = bv::scheduling::encodeTaskParameters(backup);
  const Invocation fromString = parseCommandLine({parameters});
  const Invocation fromWords = parseCommandLine(tasks::splitTaskParameters(parameters));
  EXPECT_EQ(fromString.action, Action::Run);
  EXPECT_EQ(fromWords.action, Action::Run);
  expectSame(fromString.backup, backup);
  expectSame(fromWords.backup, backup);
  // The string as stored ends in a blank; a string without it reads the same.
  expectSame(parseCommandLine({parameters.substr(0, parameters.size() - 1)}).backup, backup);
}

TEST(ParseCommandLine, AnEmptyPasswordStaysEmptyInBothForms) {
  bv::maintenance::BackupRequest backup = sampleBackup();
  backup.login.password.clear();
  const std::string parameters = bv::scheduling::encodeTaskParameters(backup);
  ASSERT_NE(parameters.find("  "), std::string::npos);
  expectSame(parseCommandLine({parameters}).backup, backup);
  Words words = tasks::splitTaskParameters(parameters);
  ASSERT_EQ(words.size(), 7u);
  EXPECT_EQ(words[2], "");
  expectSame(parseCommandLine(words).backup, backup);
}

TEST(ParseCommandLine, WindowsAuthenticationReadsNoLogin) {
  bv::maintenance::BackupRequest backup = sampleBackup();
  backup.login.useSqlAuth = false;
  backup.verify = false;
  const Invocation invocation = parseCommandLine({bv::scheduling::encodeTaskParameters(backup)});
  EXPECT_FALSE(invocation.backup.login.useSqlAuth);
  EXPECT_EQ(invocation.backup.login.userName, "");
  EXPECT_EQ(invocation.backup.login.password, "");
  EXPECT_FALSE(invocation.backup.verify);
}

TEST(ParseCommandLine, OptionsChooseTheAction) {
  const std::string parameters = bv::scheduling::encodeTaskParameters(sampleBackup());
  EXPECT_EQ(parseCommandLine({"--print", parameters}).action, Action::Print);
  EXPECT_EQ(parseCommandLine({parameters, "--print"}).action, Action::Print);
  // --help and --version look at no argument, good or bad.
  EXPECT_EQ(parseCommandLine({"--help"}).action, Action::Help);
  EXPECT_EQ(parseCommandLine({"-h", "junk"}).action, Action::Help);
  EXPECT_EQ(parseCommandLine({"--print", "--help"}).action, Action::Help);
  EXPECT_EQ(parseCommandLine({"--version"}).action, Action::Version);
  EXPECT_THROW(parseCommandLine({"--verbose", parameters}), UsageError);
  EXPECT_THROW(parseCommandLine({"-p", parameters}), UsageError);
}

TEST(ParseCommandLine, RefusesMalformedCommandLines) {
  const std::string parameters = bv::scheduling::encodeTaskParameters(sampleBackup());
  Words words = tasks::splitTaskParameters(parameters);
  EXPECT_THROW(parseCommandLine({}), UsageError);
  EXPECT_THROW(parseCommandLine({"--print"}), UsageError);
  // Wrong counts: one word without blanks, six words, eight words, a string with one more blank.
  EXPECT_THROW(parseCommandLine({"1"}), tasks::TaskArgumentError);
  EXPECT_THROW(parseCommandLine(Words(words.begin(), words.end() - 1)), tasks::TaskArgumentError);
  Words eight = words;
  eight.push_back("");
  EXPECT_THROW(parseCommandLine(eight), tasks::TaskArgumentError);
  EXPECT_THROW(parseCommandLine({parameters + " "}), tasks::TaskArgumentError);
  // Two words are neither form.
  EXPECT_THROW(parseCommandLine({parameters, parameters}), tasks::TaskArgumentError);
  // The words of a stored string split by a shell, which drops the empty one.
  bv::maintenance::BackupRequest noPassword = sampleBackup();
  noPassword.login.password.clear();
  Words shellSplit;
  for (auto& word : tasks::splitTaskParameters(bv::scheduling::encodeTaskParameters(noPassword))) {
    if (!word.empty()) shellSplit.push_back(word);
  }
  EXPECT_THROW(parseCommandLine(shellSplit), tasks::TaskArgumentError);
}

}  // namespace
}  // namespace bv::runner
