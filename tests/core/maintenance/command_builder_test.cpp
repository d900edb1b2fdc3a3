#include "core/maintenance/command_builder.h"

#include <gtest/gtest.h>

namespace bv::maintenance {
namespace {

// The backup batch as the server receives it, for database "Sales" and the path
// C:\bk\emp_%date%.dmp; each line is followed by exactly one blank.
constexpr const char* kBackupSales =
    "begin "
    " "
    "  DECLARE @strDate  varchar(20) "
    " "
    "  DECLARE @strFile  varchar(1000) "
    " "
    "  DECLARE @strName  varchar(100) "
    " "
    " "
    " "
    "  SET @strDate = CONVERT(varchar, GETDATE(), 111) "
    " "
    "  SET @strDate = REPLACE(@strDate,'/','') "
    " "
    " "
    " "
    "  SET @strFile = REPLACE(N'C:\\bk\\emp_%date%.dmp', '%date%', @strDate) "
    " "
    "  SET @strName = 'Brackenvale_' + @strDate "
    " "
    " "
    " "
    "  BACKUP "
    " "
    "  DATABASE [Sales] "
    " "
    "  TO DISK = @strFile "
    " "
    "  WITH "
    " "
    "   STATS = 100 "
    " "
    "  ,INIT "
    " "
    "  ,NAME = @strName "
    " "
    "  ,DESCRIPTION  = 'Build by Brackenvale' "
    " "
    "end "
    " ";

TEST(BackupCommand, WithoutVerifyIsTheTwentyLinesEachFollowedByOneBlank) {
  const std::string text = buildBackupCommand("Sales", "C:\\bk\\emp_%date%.dmp", false);
  EXPECT_EQ(text, kBackupSales);
  EXPECT_EQ(text.substr(0, 16), "begin    DECLARE");
  EXPECT_EQ(text.substr(text.size() - 5), "end  ");
}

TEST(BackupCommand, VerifyAppendsTheVerifyLineAfterEnd) {
  const std::string text = buildBackupCommand("Sales", "C:\\bk\\emp_%date%.dmp", true);
  EXPECT_EQ(text, std::string(kBackupSales) + "RESTORE VERIFYONLY FROM  DISK = @strFile  ");
  EXPECT_EQ(text.substr(text.size() - 10), "@strFile  ");
}

// A full backup without checksums is the batch above, byte for byte, whichever builder is asked;
// every other kind writes a file of its own: no INIT, no FORMAT, one BACKUP only after the file
// was found missing, the verify inside the block that returns before it.
TEST(BackupCommand, OnlyAPlainFullBackupUsesInit) {
  EXPECT_EQ(buildBackupCommand("Sales", "C:\\bk\\emp_%date%.dmp", BackupKind::Full, false, false), kBackupSales);
  struct Row {
    BackupKind kind;
    bool checksum;
    const char* backup;
  };
  for (const Row& row : {Row{BackupKind::Full, true, "  DATABASE [Sales] "},
                         Row{BackupKind::Differential, false, "  DATABASE [Sales] "},
                         Row{BackupKind::Log, true, "  LOG [Sales] "}}) {
    const std::string text = buildBackupCommand("Sales", "C:\\bk\\emp_%time%.dmp", row.kind, row.checksum, true);
    EXPECT_EQ(text.find("INIT"), std::string::npos) << text;
    EXPECT_EQ(text.find("FORMAT"), std::string::npos) << text;
    EXPECT_NE(text.find(row.backup), std::string::npos) << text;
    EXPECT_EQ(text.find(",DIFFERENTIAL") != std::string::npos, row.kind == BackupKind::Differential) << text;
    EXPECT_EQ(text.find(",CHECKSUM") != std::string::npos, row.checksum) << text;
    EXPECT_LT(text.find("RETURN"), text.find("BACKUP  "));
    EXPECT_LT(text.find("RESTORE VERIFYONLY"), text.rfind("end "));
  }
}

TEST(BackupCommand, TheDateTokenTravelsToTheServerUntouched) {
  const std::string text = buildBackupCommand("d", "x_%date%_%date%.bak", false);
  EXPECT_NE(text.find("REPLACE(N'x_%date%_%date%.bak', '%date%', @strDate)"), std::string::npos);
  const std::string plain = buildBackupCommand("d", "plain.bak", false);
  EXPECT_NE(plain.find("REPLACE(N'plain.bak', '%date%', @strDate)"), std::string::npos);
}

TEST(BackupCommand, QuotesInThePathAreDoubledInsideTheLiteral) {
  const std::string text = buildBackupCommand("d", "C:\\O'Brien\\a.bak", false);
  EXPECT_NE(text.find("REPLACE(N'C:\\O''Brien\\a.bak', '%date%', @strDate)"), std::string::npos);
}

TEST(BackupCommand, ClosingBracketsInTheNameAreDoubled) {
  const std::string text = buildBackupCommand("a]b]]", "f.bak", false);
  EXPECT_NE(text.find("  DATABASE [a]]b]]]]]  "), std::string::npos);
}

TEST(BackupCommand, EmptyInputsStillGiveText) {
  EXPECT_FALSE(buildBackupCommand("", "", false).empty());
  EXPECT_NE(buildBackupCommand("", "", false).find("DATABASE []"), std::string::npos);
}

TEST(RestoreCommand, IsTheFourLinesEachFollowedByOneBlank) {
  EXPECT_EQ(buildRestoreCommand("Sales", "C:\\bk\\emp_20080101.dmp"),
            "RESTORE  DATABASE [Sales] FROM DISK = N'C:\\bk\\emp_20080101.dmp' WITH REPLACE ");
}

TEST(RestoreCommand, QuotesAndBracketsAreEscapedAndDateIsNotTreated) {
  EXPECT_EQ(buildRestoreCommand("x]y", "it's_%date%.bak"),
            "RESTORE  DATABASE [x]]y] FROM DISK = N'it''s_%date%.bak' WITH REPLACE ");
}

TEST(LogCommands, TruncateAndShrinkTexts) {
  EXPECT_EQ(buildTruncateLogCommand("Sales"), "BACKUP LOG [Sales] WITH TRUNCATE_ONLY ");
  EXPECT_EQ(buildShrinkCommand("Sales"), "DBCC  SHRINKDATABASE([Sales],1) ");
  EXPECT_EQ(buildShrinkCommand("a]"), "DBCC  SHRINKDATABASE([a]]],1) ");
}

TEST(LogCommands, JapaneseNamesPassThroughAsUtf8) {
  EXPECT_EQ(buildTruncateLogCommand("売上"), "BACKUP LOG [売上] WITH TRUNCATE_ONLY ");
}

TEST(JoinCommandLines, EveryLineGetsOneBlankAndNothingIsTrimmed) {
  EXPECT_EQ(joinCommandLines({}), "");
  EXPECT_EQ(joinCommandLines({" a ", "", "b"}), " a   b ");
}

TEST(BackupFileProblem, ThePathMustFitTheBatchsThousandBytesAsTheServerResolvesIt) {
  const std::string folder = "D:\\backup\\";
  EXPECT_EQ(backupFileProblem(folder + std::string(1000 - folder.size(), 'a')), std::nullopt);
  EXPECT_EQ(backupFileProblem(folder + std::string(1001 - folder.size(), 'a')), kBackupFileTooLong);
  // Each %date% (in any letter case) becomes eight digits on the server.
  const std::string withDate = folder + std::string(1000 - folder.size() - 6, 'a') + "%date%";
  EXPECT_EQ(withDate.size(), 1000u);
  EXPECT_EQ(backupFileProblem(withDate), kBackupFileTooLong);
  EXPECT_EQ(backupFileProblem(folder + std::string(1000 - folder.size() - 8, 'a') + "%DaTe%"), std::nullopt);
  EXPECT_EQ(backupFileProblem(folder + std::string(1000 - folder.size() - 7, 'a') + "%DaTe%"),
            kBackupFileTooLong);
  // A Japanese character takes two bytes of code page 932.
  std::string exact = folder;  // 3 bytes of UTF-8 for each 売, 2 of code page 932
  for (std::size_t bytes = folder.size(); bytes + 2 <= 1000; bytes += 2) exact += "売";
  EXPECT_EQ(backupFileProblem(exact), std::nullopt);
  EXPECT_EQ(backupFileProblem(exact + "売"), kBackupFileTooLong);
}

TEST(BackupFileProblem, ACharacterCodePage932CannotCarryIsRefused) {
  EXPECT_EQ(backupFileProblem("D:\\café.bak"), kBackupFileUnusableCharacter);
  EXPECT_EQ(backupFileProblem("D:\\〜.bak"), kBackupFileUnusableCharacter);  // would come back as ～
  EXPECT_EQ(backupFileProblem("D:\\😀.bak"), kBackupFileUnusableCharacter);
  EXPECT_EQ(backupFileProblem("D:\\売上 %date%.bak"), std::nullopt);
}

}  // namespace
}  // namespace bv::maintenance
