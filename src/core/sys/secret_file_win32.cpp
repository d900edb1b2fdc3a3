#include "core/sys/secret_file.h"

#include <fstream>
#include <system_error>

#include "core/sys/wipe.h"

namespace bv::sys {
namespace {

std::string utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

// The file takes its folder's permissions (the user's profile), so there is no mode to check.
SecretFile readSecretFile(const std::filesystem::path& file, std::size_t maxBytes) {
  std::error_code error;
  const auto status = std::filesystem::status(file, error);
  if (status.type() == std::filesystem::file_type::not_found) return {};
  if (error) return {SecretFile::State::Unreadable, {}, "ファイルを調べられませんでした。"};
  if (status.type() != std::filesystem::file_type::regular) {
    return {SecretFile::State::Refused, {}, utf8(file) + " は通常のファイルではないため使いません。"};
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return {SecretFile::State::Unreadable, {}, "ファイルを読み込めませんでした。"};
  SecretFile result{SecretFile::State::Read, {}, {}};
  result.text.resize(maxBytes + 1);
  in.read(result.text.data(), static_cast<std::streamsize>(result.text.size()));
  if (in.bad() || static_cast<std::size_t>(in.gcount()) > maxBytes) {
    wipe(result.text);
    return {SecretFile::State::Unreadable, {}, in.bad() ? "ファイルを読み込めませんでした。" : "ファイルが大きすぎます。"};
  }
  result.text.resize(static_cast<std::size_t>(in.gcount()));
  return result;
}

}  // namespace bv::sys
