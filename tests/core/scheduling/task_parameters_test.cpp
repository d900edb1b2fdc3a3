#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"

namespace bv::scheduling {
namespace {

using Words = std::vector<std::string>;

maintenance::BackupRequest sqlBackup() {
  maintenance::BackupRequest backup;
  backup.login.useSqlAuth = true;
  backup.login.userName = "運用担当";
  backup.login.password = "p;a'ss";
  backup.login.server = "127.0.0.1,1433";
  backup.database = "売上";
  backup.backupFile = "D:\\backup dir\\売上_%date%.bak";
  backup.verify = true;
  return backup;
}

void expectSame(const maintenance::BackupRequest& actual, const maintenance::BackupRequest& expected) {
  EXPECT_EQ(actual.login.useSqlAuth, expected.login.useSqlAuth);
  EXPECT_EQ(actual.login.userName, expected.login.userName);
  EXPECT_EQ(actual.login.password, expected.login.password);
  EXPECT_EQ(actual.login.server, expected.login.server);
  EXPECT_EQ(actual.database, expected.database);
  EXPECT_EQ(actual.backupFile, expected.backupFile);
  EXPECT_EQ(actual.verify, expected.verify);
}

std::string readFailure(const Words& arguments) {
  try {
    decodeTaskParameters(arguments);
  } catch (const tasks::TaskArgumentError& error) {
    return error.what();
  }
  return {};
}

TEST(BuildTaskParameters, WindowsAuthenticationIgnoresTheLoginFields) {
  maintenance::BackupRequest backup = sqlBackup();
  backup.login.useSqlAuth = false;
  EXPECT_EQ(encodeTaskParameters(backup), "1 0 0 " + tasks::EncodeTaskArgument(backup.login.server) + " " +
                                             tasks::EncodeTaskArgument("売上") + " " +
                                             tasks::EncodeTaskArgument(backup.backupFile) + " 1 ");
}

TEST(BuildTaskParameters, SqlAuthenticationEncodesLoginAndPassword) {
  const maintenance::BackupRequest backup = sqlBackup();
  const std::string parameters = encodeTaskParameters(backup);
  EXPECT_EQ(parameters, "2 " + tasks::EncodeTaskArgument("運用担当") + " " + tasks::EncodeTaskArgument("p;a'ss") + " " +
                            tasks::EncodeTaskArgument(backup.login.server) + " " + tasks::EncodeTaskArgument("売上") + " " +
                            tasks::EncodeTaskArgument(backup.backupFile) + " 1 ");
  // The blank in the path, the quote and the semicolon of the password are all hexadecimal now.
  EXPECT_EQ(parameters.find_first_not_of("0123456789ABCDEF "), std::string::npos);
}

TEST(BuildTaskParameters, AnEmptyPasswordLeavesTwoBlanksSideBySide) {
  maintenance::BackupRequest backup = sqlBackup();
  backup.login.password.clear();
  backup.verify = false;
  const std::string parameters = encodeTaskParameters(backup);
  EXPECT_NE(parameters.find(tasks::EncodeTaskArgument("運用担当") + "  "), std::string::npos);
  EXPECT_EQ(parameters.substr(parameters.size() - 3), " 0 ");
}

TEST(SplitTaskParameters, SingleBlanksSeparateSoEmptyArgumentsStay) {
  EXPECT_EQ(tasks::splitTaskParameters("2 AB  CD 0 "), (Words{"2", "AB", "", "CD", "0"}));
  EXPECT_EQ(tasks::splitTaskParameters("2 AB  CD 0"), (Words{"2", "AB", "", "CD", "0"}));
  EXPECT_EQ(tasks::splitTaskParameters("1 0 0 A B C 1  "), (Words{"1", "0", "0", "A", "B", "C", "1", ""}));
  EXPECT_EQ(tasks::splitTaskParameters(""), Words{});
  EXPECT_EQ(tasks::splitTaskParameters(" "), Words{""});
  EXPECT_EQ(tasks::splitTaskParameters("  "), (Words{"", ""}));
}

TEST(ReadTaskParameters, GivesBackWhatWasBuilt) {
  const maintenance::BackupRequest sql = sqlBackup();
  expectSame(decodeTaskParameters(tasks::splitTaskParameters(encodeTaskParameters(sql))), sql);

  maintenance::BackupRequest windows = sqlBackup();
  windows.login.useSqlAuth = false;
  windows.verify = false;
  maintenance::BackupRequest expected = windows;
  expected.login.userName.clear();
  expected.login.password.clear();
  expectSame(decodeTaskParameters(tasks::splitTaskParameters(encodeTaskParameters(windows))), expected);

  maintenance::BackupRequest emptyPassword = sqlBackup();
  emptyPassword.login.password.clear();
  expectSame(decodeTaskParameters(tasks::splitTaskParameters(encodeTaskParameters(emptyPassword))), emptyPassword);
}

TEST(ReadTaskParameters, RefusesAWrongCount) {
  const Words seven = tasks::splitTaskParameters(encodeTaskParameters(sqlBackup()));
  Words six(seven.begin(), seven.end() - 1);
  Words twelve = seven;
  twelve.insert(twelve.end(), {"0", "0", "0", "0", "0"});
  EXPECT_NE(readFailure(six).find("6 個"), std::string::npos);
  EXPECT_NE(readFailure(twelve).find("12 個"), std::string::npos);
  EXPECT_NE(readFailure({}).find("0 個"), std::string::npos);
}

// The eighth (generations kept) and ninth (test restore) arguments: written only when they say
// something, so a task that keeps everything and proves nothing has today's seven; read back.
TEST(ReadTaskParameters, TheGenerationsAndTheTestRestoreTravelOnlyWhenTheySaySomething) {
  maintenance::BackupRequest backup = sqlBackup();
  EXPECT_EQ(tasks::splitTaskParameters(encodeTaskParameters(backup)).size(), 7u);
  backup.generations = 30;
  const Words eight = tasks::splitTaskParameters(encodeTaskParameters(backup));
  ASSERT_EQ(eight.size(), 8u);
  EXPECT_EQ(eight[7], "30");
  EXPECT_EQ(decodeTaskParameters(eight).generations, 30);
  backup.generations = 0;
  backup.testRestore = true;
  const Words nine = tasks::splitTaskParameters(encodeTaskParameters(backup));
  EXPECT_EQ(Words(nine.end() - 2, nine.end()), (Words{"0", "1"}));
  EXPECT_TRUE(decodeTaskParameters(nine).testRestore);
  for (const char* refused : {"1", "366", "02", "-2", "x", ""}) {
    Words words = eight;
    words[7] = refused;
    EXPECT_NE(readFailure(words).find("8 番目の引数（保存世代数）"), std::string::npos) << refused;
  }
  Words badProof = nine;
  badProof[8] = "2";
  EXPECT_NE(readFailure(badProof).find("9 番目の引数（テストレストア）"), std::string::npos);
}

// The tenth (kind) and eleventh (checksum): written only when not the default, each earlier field
// then written as its default; read back; anything else refused by its number and role.
TEST(ReadTaskParameters, TheKindAndTheChecksumTravelOnlyWhenTheySaySomething) {
  struct Row {
    maintenance::BackupKind kind;
    bool checksum;
    Words tail;
  };
  for (const Row& row : {Row{maintenance::BackupKind::Differential, false, {"0", "0", "1"}},
                         Row{maintenance::BackupKind::Log, false, {"0", "0", "2"}},
                         Row{maintenance::BackupKind::Full, true, {"0", "0", "0", "1"}},
                         Row{maintenance::BackupKind::Log, true, {"0", "0", "2", "1"}}}) {
    maintenance::BackupRequest backup = sqlBackup();
    backup.kind = row.kind;
    backup.checksum = row.checksum;
    const Words words = tasks::splitTaskParameters(encodeTaskParameters(backup));
    ASSERT_EQ(words.size(), 7 + row.tail.size());
    EXPECT_EQ(Words(words.begin() + 7, words.end()), row.tail);
    const maintenance::BackupRequest back = decodeTaskParameters(words);
    EXPECT_EQ(back.kind, row.kind);
    EXPECT_EQ(back.checksum, row.checksum);
    EXPECT_EQ(back.generations, 0);
    EXPECT_FALSE(back.testRestore);
  }
  Words eleven = tasks::splitTaskParameters(encodeTaskParameters(sqlBackup()));
  eleven.insert(eleven.end(), {"0", "0", "1", "1"});
  for (const char* refused : {"3", "", "01", "x"}) {
    Words words = eleven;
    words[9] = refused;
    EXPECT_NE(readFailure(words).find("10 番目の引数（種類）"), std::string::npos) << refused;
  }
  eleven[10] = "2";
  EXPECT_NE(readFailure(eleven).find("11 番目の引数（チェックサム）"), std::string::npos);
}

TEST(ReadTaskParameters, NamesTheArgumentAtFault) {
  const Words good = tasks::splitTaskParameters(encodeTaskParameters(sqlBackup()));
  const auto with = [&](std::size_t index, std::string value) {
    Words words = good;
    words[index] = std::move(value);
    return readFailure(words);
  };
  EXPECT_TRUE(readFailure(good).empty());
  EXPECT_NE(with(0, "3").find("1 番目の引数"), std::string::npos);
  EXPECT_NE(with(0, "").find("1 番目の引数"), std::string::npos);
  EXPECT_NE(with(1, "").find("2 番目の引数"), std::string::npos);     // no login name
  EXPECT_NE(with(2, "ABC").find("3 番目の引数"), std::string::npos);  // odd
  EXPECT_NE(with(3, "").find("4 番目の引数"), std::string::npos);     // no server
  EXPECT_NE(with(4, "").find("5 番目の引数"), std::string::npos);     // no database
  EXPECT_NE(with(5, "").find("6 番目の引数"), std::string::npos);     // no backup file
  EXPECT_NE(with(5, "58").find("6 番目の引数"), std::string::npos);   // lead byte 0x85 alone
  EXPECT_NE(with(6, "2").find("7 番目の引数"), std::string::npos);
  EXPECT_NE(with(6, "").find("7 番目の引数"), std::string::npos);

  Words windows = good;
  windows[0] = "1";
  EXPECT_NE(readFailure(windows).find("2 番目の引数"), std::string::npos);  // must be "0"
  windows[1] = "0";
  EXPECT_NE(readFailure(windows).find("3 番目の引数"), std::string::npos);
  windows[2] = "0";
  EXPECT_TRUE(readFailure(windows).empty());
}

TEST(ReadTaskParameters, AnEmptyPasswordIsAllowed) {
  Words words = tasks::splitTaskParameters(encodeTaskParameters(sqlBackup()));
  words[2] = "";
  EXPECT_EQ(decodeTaskParameters(words).login.password, "");
}

TEST(ReadTaskParameters, NoRefusalStatesTheLengthOfThePasswordOrOfItsEncodedForm) {
  maintenance::BackupRequest backup;
  backup.login.useSqlAuth = true;
  backup.login.userName = "sa";
  backup.login.password = "seventeen-chars!!";  // 17 characters, 34 digits
  backup.login.server = "srv";
  backup.database = "db";
  backup.backupFile = "f";
  auto arguments = tasks::splitTaskParameters(encodeTaskParameters(backup));
  arguments[2].pop_back();  // 33 digits: odd
  try {
    decodeTaskParameters(arguments);
    FAIL() << "an odd argument was read";
  } catch (const tasks::TaskArgumentError& error) {
    const std::string message = error.what();
    for (const char* length : {"33", "34", "17"}) {
      EXPECT_EQ(message.find(length), std::string::npos) << message;
    }
  }
}

// The tick's report reads the three fields it names and never decodes the login fields: a
// password field that is not even hexadecimal is no concern of it, while the runner refuses it.
TEST(TaskTarget, ReadsServerDatabaseAndFileWithoutDecodingTheLoginFields) {
  Words words = tasks::splitTaskParameters(encodeTaskParameters(sqlBackup()));
  words[tasks::kPasswordField] = "not hex";
  const tasks::TaskTarget target = tasks::readTaskTarget(words);
  EXPECT_EQ(target.server, "127.0.0.1,1433");
  EXPECT_EQ(target.database, "売上");
  EXPECT_EQ(target.backupFile, "D:\\backup dir\\売上_%date%.bak");
  EXPECT_THROW(decodeTaskParameters(words), tasks::TaskArgumentError);
}

}  // namespace
}  // namespace bv::scheduling
