// Reading a batch: the statements and expressions of ast.h from a batch's tokens.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "standin/sql/ast.h"
#include "standin/sql/lexer.h"

namespace standin::sql {

struct ParseOptions {
  int serverYear = 2005;
};

// Parses a whole batch; throws SqlError for anything it does not understand, before anything
// runs (as SQL Server compiles a batch before executing it).
std::vector<StatementPtr> parseBatch(const std::vector<Token>& tokens, const ParseOptions& options);

// Parses a parameter declaration list such as "@P1 nvarchar(50), @P2 int".
std::vector<Declaration> parseDeclarationList(const std::vector<Token>& tokens);

// Parses a type name such as "varchar(20)"; throws SqlError 2715 for an unknown type.
SqlType parseTypeName(const std::string& name, const std::vector<int>& args, bool hasArgs, bool inConvert,
                      int line);

bool isReservedKeyword(std::string_view word);

}  // namespace standin::sql
