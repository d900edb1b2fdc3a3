#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/tasks/task_argument.h"

namespace bv::tasks {
namespace {

using Words = std::vector<std::string>;

TaskBackup sqlBackup() {
  TaskBackup backup;
  backup.useSqlAuth = true;
  backup.userName = "運用担当";
  backup.password = "p;a'ss";
  backup.server = "127.0.0.1,1433";
  backup.database = "売上";
  backup.backupFile = "D:\\backup dir\\売上_%date%.bak";
  backup.verify = true;
  return backup;
}

void expectSame(const TaskBackup& actual, const TaskBackup& expected) {
  EXPECT_EQ(actual.useSqlAuth, expected.useSqlAuth);
  EXPECT_EQ(actual.userName, expected.userName);
  EXPECT_EQ(actual.password, expected.password);
  EXPECT_EQ(actual.server, expected.server);
  EXPECT_EQ(actual.database, expected.database);
  EXPECT_EQ(actual.backupFile, expected.backupFile);
  EXPECT_EQ(actual.verify, expected.verify);
}

std::string readFailure(const Words& arguments) {
  try {
    readTaskParameters(arguments);
  } catch (const TaskArgumentError& error) {
    return error.what();
  }
  return {};
}

TEST(BuildTaskParameters, WindowsAuthenticationIgnoresTheLoginFields) {
  TaskBackup backup = sqlBackup();
  backup.useSqlAuth = false;
  EXPECT_EQ(buildTaskParameters(backup), "1 0 0 " + EncodeTaskArgument(backup.server) + " " +
                                             EncodeTaskArgument("売上") + " " +
                                             EncodeTaskArgument(backup.backupFile) + " 1 ");
}

TEST(BuildTaskParameters, SqlAuthenticationEncodesLoginAndPassword) {
  const TaskBackup backup = sqlBackup();
  const std::string parameters = buildTaskParameters(backup);
  EXPECT_EQ(parameters, "2 " + EncodeTaskArgument("運用担当") + " " + EncodeTaskArgument("p;a'ss") + " " +
                            EncodeTaskArgument(backup.server) + " " + EncodeTaskArgument("売上") + " " +
                            EncodeTaskArgument(backup.backupFile) + " 1 ");
  // The blank in the path, the quote and the semicolon of the password are all hexadecimal now.
  EXPECT_EQ(parameters.find_first_not_of("0123456789ABCDEF "), std::string::npos);
}

TEST(BuildTaskParameters, AnEmptyPasswordLeavesTwoBlanksSideBySide) {
  TaskBackup backup = sqlBackup();
  backup.password.clear();
  backup.verify = false;
  const std::string parameters = buildTaskParameters(backup);
  EXPECT_NE(parameters.find(EncodeTaskArgument("運用担当") + "  "), std::string::npos);
  EXPECT_EQ(parameters.substr(parameters.size() - 3), " 0 ");
}

TEST(SplitTaskParameters, SingleBlanksSeparateSoEmptyArgumentsStay) {
  EXPECT_EQ(splitTaskParameters("2 AB  CD 0 "), (Words{"2", "AB", "", "CD", "0"}));
  EXPECT_EQ(splitTaskParameters("2 AB  CD 0"), (Words{"2", "AB", "", "CD", "0"}));
  EXPECT_EQ(splitTaskParameters("1 0 0 A B C 1  "), (Words{"1", "0", "0", "A", "B", "C", "1", ""}));
  EXPECT_EQ(splitTaskParameters(""), Words{});
  EXPECT_EQ(splitTaskParameters(" "), Words{""});
  EXPECT_EQ(splitTaskParameters("  "), (Words{"", ""}));
}

TEST(ReadTaskParameters, GivesBackWhatWasBuilt) {
  const TaskBackup sql = sqlBackup();
  expectSame(readTaskParameters(splitTaskParameters(buildTaskParameters(sql))), sql);

  TaskBackup windows = sqlBackup();
  windows.useSqlAuth = false;
  windows.verify = false;
  TaskBackup expected = windows;
  expected.userName.clear();
  expected.password.clear();
  expectSame(readTaskParameters(splitTaskParameters(buildTaskParameters(windows))), expected);

  TaskBackup emptyPassword = sqlBackup();
  emptyPassword.password.clear();
  expectSame(readTaskParameters(splitTaskParameters(buildTaskParameters(emptyPassword))), emptyPassword);
}

TEST(ReadTaskParameters, RefusesAWrongCount) {
  const Words seven = splitTaskParameters(buildTaskParameters(sqlBackup()));
  Words six(seven.begin(), seven.end() - 1);
  Words ten = seven;
  ten.insert(ten.end(), {"0", "0", "0"});
  EXPECT_NE(readFailure(six).find("6 個"), std::string::npos);
  EXPECT_NE(readFailure(ten).find("10 個"), std::string::npos);
  EXPECT_NE(readFailure({}).find("0 個"), std::string::npos);
}

// The eighth (generations kept) and ninth (test restore) arguments: written only when they say
// something, so a task that keeps everything and proves nothing has today's seven; read back.
TEST(ReadTaskParameters, TheGenerationsAndTheTestRestoreTravelOnlyWhenTheySaySomething) {
  TaskBackup backup = sqlBackup();
  EXPECT_EQ(splitTaskParameters(buildTaskParameters(backup)).size(), 7u);
  backup.generations = 30;
  const Words eight = splitTaskParameters(buildTaskParameters(backup));
  ASSERT_EQ(eight.size(), 8u);
  EXPECT_EQ(eight[7], "30");
  EXPECT_EQ(readTaskParameters(eight).generations, 30);
  backup.generations = 0;
  backup.testRestore = true;
  const Words nine = splitTaskParameters(buildTaskParameters(backup));
  EXPECT_EQ(Words(nine.end() - 2, nine.end()), (Words{"0", "1"}));
  EXPECT_TRUE(readTaskParameters(nine).testRestore);
  for (const char* refused : {"1", "366", "02", "-2", "x", ""}) {
    Words words = eight;
    words[7] = refused;
    EXPECT_NE(readFailure(words).find("8 番目の引数（保存世代数）"), std::string::npos) << refused;
  }
  Words badProof = nine;
  badProof[8] = "2";
  EXPECT_NE(readFailure(badProof).find("9 番目の引数（テストレストア）"), std::string::npos);
}

TEST(ReadTaskParameters, NamesTheArgumentAtFault) {
  const Words good = splitTaskParameters(buildTaskParameters(sqlBackup()));
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
  Words words = splitTaskParameters(buildTaskParameters(sqlBackup()));
  words[2] = "";
  EXPECT_EQ(readTaskParameters(words).password, "");
}

TEST(ReadTaskParameters, NoRefusalStatesTheLengthOfThePasswordOrOfItsEncodedForm) {
  TaskBackup backup;
  backup.useSqlAuth = true;
  backup.userName = "sa";
  backup.password = "seventeen-chars!!";  // 17 characters, 34 digits
  backup.server = "srv";
  backup.database = "db";
  backup.backupFile = "f";
  auto arguments = splitTaskParameters(buildTaskParameters(backup));
  arguments[2].pop_back();  // 33 digits: odd
  try {
    readTaskParameters(arguments);
    FAIL() << "an odd argument was read";
  } catch (const TaskArgumentError& error) {
    const std::string message = error.what();
    for (const char* length : {"33", "34", "17"}) {
      EXPECT_EQ(message.find(length), std::string::npos) << message;
    }
  }
}

}  // namespace
}  // namespace bv::tasks
