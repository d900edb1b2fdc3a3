#include "core/db/sql_text.h"

namespace bv::db {

std::string unicodeLiteral(std::string_view text) { return "N'" + QuoteSqlString(text) + "'"; }

std::string QuoteSqlString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

std::string bracketName(std::string_view name) {
  std::string out = "[";
  for (char c : name) {
    out.push_back(c);
    if (c == ']') out.push_back(']');
  }
  out.push_back(']');
  return out;
}

}  // namespace bv::db
