// The T-SQL errors that end a statement, carrying SQL Server's numbers, severities and texts.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "standin/sql/results.h"

namespace standin::sql {

// A T-SQL error raised while parsing or running, carrying SQL Server's number, severity, text.
struct SqlError : std::runtime_error {
  explicit SqlError(Message m) : std::runtime_error(m.text), message(std::move(m)) {}
  SqlError(int number, int severity, std::string text, int line = 1, int state = 1)
      : std::runtime_error(text), message{number, state, severity, std::move(text), line, {}} {}
  Message message;
};

// Several messages that together end a statement (e.g. 3201 followed by 3013).
struct SqlErrors : std::exception {
  explicit SqlErrors(std::vector<Message> m) : messages(std::move(m)) {}
  const char* what() const noexcept override {
    return messages.empty() ? "error" : messages.front().text.c_str();
  }
  std::vector<Message> messages;
};

}  // namespace standin::sql
