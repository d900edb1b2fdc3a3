// The system's texts for the result codes that the program's own scheduler produces, in the
// wording of the system whose codes they are.
#include <array>
#include <cstdio>

#include "core/tasks/system_error.h"

namespace bv::tasks {

std::string systemErrorText(HResult code) {
  switch (code) {
    case kFileNotFound:
      return "指定されたファイルが見つかりません。";
    case kAccessDenied:
      return "アクセスが拒否されました。";
    case kInvalidArgument:
      return "パラメーターが間違っています。";
    case kOutOfMemory:
      return "この操作を完了するのに十分な記憶域がありません。";
    case kNoInterface:
      return "インターフェイスがサポートされていません";
    case kUnspecifiedFailure:
      return "エラーを特定できません";
    case 0x80004001:  // E_NOTIMPL
      return "実装されていません";
    case 0x80070050:  // ERROR_FILE_EXISTS
      return "ファイルが存在します。";
    case kNotFileBasedStorage:
      return "ファイル ベースでないストレージで、ファイル ベースの操作が試みられました。";
    case kLogonFailure:
      return "ログオン失敗: ユーザー名を認識できないか、またはパスワードが間違っています。";
    case kAccountRestriction:
      return "ログオン失敗: ユーザー アカウントの制限。";
    case kPasswordMustChange:
      return "ユーザーのパスワードは最初のログオンの前に変更しなければなりません。";
    case kCrontabTooLarge:
      return "crontab が大きすぎて最後まで読めなかったため、変更していません。";
    case kCrontabPathRefused:
      return "プログラムまたはタスクストアのパスに改行などの制御文字か、「%」の直前の「\\」が含まれているため、"
             "crontab に登録できません。";
    default:
      break;
  }
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "エラー 0x%08X が発生しました。", static_cast<unsigned>(code));
  return text.data();
}

}  // namespace bv::tasks
