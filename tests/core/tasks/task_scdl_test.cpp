// The wrapper's error reporting: the message table, TaskCheck and the standard COM check.
#include "core/tasks/TaskScdl.h"

#include <gtest/gtest.h>

namespace bv::tasks {
namespace {

TEST(TaskErrorMessage, EveryCodeOfTheTableHasItsMessageAndNoOtherCodeHasOne) {
  const std::pair<HResult, const char*> table[] = {
      {0x00041300, "タスクは実行する準備ができています"},
      {0x00041301, "タスクは実行中です"},
      {0x00041302, "タスクは無効にされています"},
      {0x00041303, "タスクはまだ実行されていません"},
      {0x00041304, "タスクは次のスケジュールが予定されていません"},
      {0x00041305, "タスクはスケジュールされていません"},
      {0x00041306, "タスクはユーザーによって終了されました"},
      {0x00041307, "タスクは有効なトリガーがありません"},
      {0x00041308, "イベントトリガーは次の予定された時間がありません"},
      {0x80041309, "トリガーがありません"},
      {0x8004130A, "タスクは設定に問題があるため実行できません"},
      {0x8004130B, "終了させるタスクがありません"},
      {0x8004130C, "タスクスケジュールサービスがインストールされていません"},
      {0x8004130D, "タスクを開けません"},
      {0x8004130E, "オブジェクトは無効なタスクか、タスクではありません"},
      {0x8004130F, "アカウント情報は未設定です"},
      {0x80041310, "指定したアカウントの存在を確認できません"},
      {0x80041311, "タスクスケジューラセキュリティデータベースが不正です"},
      {0x80041312, "セキュリティサービスは提供されていません"},
      {0x80041313, "タスクオブジェクトのバージョンはサポートされていないか、不正なオブジェクトです"},
      {0x80041314, "アカウント設定とオプションはサポートされていない組み合わせに設定されています"},
      {0x80041315, "タスクスケジューラサービスは開始されていません"},
  };
  for (const auto& [code, message] : table) EXPECT_EQ(TaskErrorMessage(code), message) << std::hex << code;
  for (const HResult other : {HResult{0}, HResult{1}, HResult{0x000412FF}, HResult{0x00041309},
                              HResult{0x80041308}, HResult{0x80041316}, kFileNotFound, kLogonFailure}) {
    EXPECT_EQ(TaskErrorMessage(other), "") << std::hex << other;
  }
}

TEST(TaskCheck, SuccessReturnsAndAnInformationalCodeRaisesWithItsMessage) {
  EXPECT_NO_THROW(TaskCheck(kOk));
  EXPECT_NO_THROW(TaskCheck(kFalse));  // a success outside the table
  try {
    TaskCheck(kSchedTaskHasNotRun);
    FAIL() << "the informational code did not raise";
  } catch (const ETaskException& error) {
    EXPECT_STREQ(error.what(), "タスクはまだ実行されていません");
    EXPECT_EQ(error.code(), kSchedTaskHasNotRun);
    EXPECT_EQ(error.helpContext(), 0);
  }
}

TEST(TaskCheck, AFailureOutsideTheTableIsTheSystemsComErrorNotATaskException) {
  try {
    TaskCheck(kFileNotFound);
    FAIL() << "a failure did not raise";
  } catch (const ETaskException&) {
    FAIL() << "a code outside the table became a task exception";
  } catch (const ComError& error) {
    EXPECT_EQ(error.code(), kFileNotFound);
    EXPECT_EQ(error.what(), systemErrorText(kFileNotFound));
    EXPECT_STRNE(error.what(), "");
  }
}

TEST(ComCheck, RaisesForFailuresOnlyAndNeverUsesTheTable) {
  EXPECT_NO_THROW(comCheck(kSchedTaskHasNotRun));
  try {
    comCheck(kSchedInvalidTask);
    FAIL();
  } catch (const ETaskException&) {
    FAIL() << "the standard check used the table";
  } catch (const ComError& error) {
    EXPECT_EQ(error.code(), kSchedInvalidTask);
  }
}

}  // namespace
}  // namespace bv::tasks
