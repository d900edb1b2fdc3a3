// The stand-in's T-SQL front end: the lexer and the parser, on a batch as a client sends it
// (UTF-8, as the TDS layer hands it on).
//
// What must hold: a batch the parser does not understand ends in SqlError (the message the
// client gets) and never in a crash, a sanitizer report, a stack overflow or another exception;
// the tokens are the batch's own characters in order, and reading them again, one blank between
// each, gives the same tokens.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "standin/engine/engine.h"
#include "standin/sql/errors.h"
#include "standin/sql/lexer.h"
#include "standin/sql/parser.h"

namespace {

using standin::sql::Token;

void checkTokens(std::string_view batch, const std::vector<Token>& tokens) {
  FUZZ_CHECK(!tokens.empty() && tokens.back().kind == Token::Kind::End);
  std::size_t at = 0;
  std::string spaced;
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    const Token& token = tokens[i];
    FUZZ_CHECK(token.kind != Token::Kind::End && !token.raw.empty());
    const std::size_t found = batch.find(token.raw, at);
    FUZZ_CHECK(found != std::string_view::npos);
    at = found + token.raw.size();
    spaced += token.raw;
    spaced += ' ';
  }
  const std::vector<Token> again = standin::sql::tokenize(spaced);
  FUZZ_CHECK(again.size() == tokens.size());
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    FUZZ_CHECK(again[i].kind == tokens[i].kind);
    FUZZ_CHECK(again[i].text == tokens[i].text);
    FUZZ_CHECK(again[i].unicode == tokens[i].unicode);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view batch(reinterpret_cast<const char*>(data), size);
  std::vector<Token> tokens;
  try {
    tokens = standin::sql::tokenize(batch);
  } catch (const standin::sql::SqlError&) {
    return 0;  // an unclosed quotation mark or comment
  }
  checkTokens(batch, tokens);
  // The emulated release changes what BACKUP LOG accepts.
  for (const int year : {2000, 2005}) {
    try {
      (void)standin::sql::parseBatch(tokens,
                                     standin::sql::ParseOptions{year, &standin::engine::statementGrammar()});
    } catch (const standin::sql::SqlError&) {
    }
  }
  // The parameter declarations of sp_executesql go through the same parser.
  try {
    (void)standin::sql::parseDeclarationList(tokens);
  } catch (const standin::sql::SqlError&) {
  }
  return 0;
}
