// Pieces of T-SQL text built from values: a string literal's inside and a bracketed name. Qt-free.
#pragma once

#include <string>
#include <string_view>

namespace bv::db {

// The inside of a '...' or N'...' literal: each "'" doubled, nothing else changed.
std::string QuoteSqlString(std::string_view text);

// A whole N'...' literal of the text.
std::string unicodeLiteral(std::string_view text);

// A name between square brackets, each "]" inside doubled.
std::string bracketName(std::string_view name);

}  // namespace bv::db
