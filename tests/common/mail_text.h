// Reading a mail as its recipient's program does, for the tests' checks: the headers unfolded
// with their RFC 2047 words decoded, the body with its base64 transfer encoding undone.
#pragma once

#include <string>
#include <vector>

namespace bvtest {

std::string base64Decode(const std::string& text);

// A header value with its RFC 2047 "B" words of UTF-8 decoded; the blanks and folds between two
// words dropped (RFC 2047 6.2). A word that is not well formed stays as it is.
std::string decodeEncodedWords(const std::string& value);

class MailText {
 public:
  MailText() = default;
  explicit MailText(std::string raw);

  const std::string& raw() const { return raw_; }
  // The header's value, unfolded and decoded; empty when there is none.
  std::string header(const std::string& name) const;
  // The value as written, folds and encoded-words included.
  std::string rawHeader(const std::string& name) const;
  // Every header's name, in order.
  std::vector<std::string> headerNames() const;
  std::string subject() const { return header("Subject"); }
  // The body; base64 undone when the message says so.
  std::string body() const;

 private:
  struct Header {
    std::string name;
    std::string value;  // as written, CR LF of the folds included
  };
  std::string raw_;
  std::vector<Header> headers_;
  std::string body_;
};

}  // namespace bvtest
