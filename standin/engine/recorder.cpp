#include "standin/engine/recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "standin/base/private_files.h"

namespace standin::engine {

namespace {

std::string quotedText(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\'':
        out += "\\'";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          out += buf;
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('\'');
  return out;
}

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (const char c : bytes) {
    out.push_back(digits[(static_cast<unsigned char>(c) >> 4) & 0xF]);
    out.push_back(digits[static_cast<unsigned char>(c) & 0xF]);
  }
  return out;
}

const char* commandName(sql::StatementDone::Command command) {
  using C = sql::StatementDone::Command;
  switch (command) {
    case C::Select:
      return "select";
    case C::Insert:
      return "insert";
    case C::Delete:
      return "delete";
    case C::Update:
      return "update";
    case C::Other:
      break;
  }
  return "other";
}

const char* envChangeName(sql::EnvChange::Kind kind) {
  using K = sql::EnvChange::Kind;
  switch (kind) {
    case K::Database:
      return "database";
    case K::Language:
      return "language";
    case K::BeginTransaction:
      return "begin-transaction";
    case K::CommitTransaction:
      return "commit-transaction";
    case K::RollbackTransaction:
      return "rollback-transaction";
  }
  return "?";
}

struct ItemWriter {
  std::string& out;
  void operator()(const sql::Message& m) const {
    out += "  message " + std::to_string(m.number) + " severity " + std::to_string(m.severity) + " state " +
           std::to_string(m.state) + " line " + std::to_string(m.line);
    if (!m.procedure.empty()) out += " procedure " + quotedText(m.procedure);
    out += ": " + quotedText(m.text) + "\n";
  }
  void operator()(const sql::ResultSet& rs) const {
    out += "  columns:";
    for (const auto& c : rs.columns)
      out += " " + quotedText(c.name) + " " + c.type.name() + (c.nullable ? " null" : " not-null") + ";";
    out += "\n";
    for (const auto& row : rs.rows) {
      out += "  row:";
      for (const auto& v : row) out += " " + recordedValue(v) + ";";
      out += "\n";
    }
  }
  void operator()(const sql::EnvChange& e) const {
    const bool transaction =
        e.kind != sql::EnvChange::Kind::Database && e.kind != sql::EnvChange::Kind::Language;
    out += std::string("  envchange ") + envChangeName(e.kind) + " " +
           (transaction ? hex(e.newValue) + " " + hex(e.oldValue)
                        : quotedText(e.newValue) + " " + quotedText(e.oldValue)) +
           "\n";
  }
  void operator()(const sql::StatementDone& d) const {
    out += "  done";
    if (d.error) out += " error";
    if (d.rowCount) out += " count " + std::to_string(*d.rowCount);
    if (d.inProcedure) out += " in-procedure";
    out += std::string(" ") + commandName(d.command) + "\n";
  }
  void operator()(const sql::ReturnStatus& s) const {
    out += "  return status " + std::to_string(s.value) + "\n";
  }
  void operator()(const sql::ReturnValue& v) const {
    out += "  return value " + std::to_string(v.ordinal) + " " + quotedText(v.name) + " " + v.type.name() +
           " = " + recordedValue(v.value) + "\n";
  }
  void operator()(const sql::ProcedureDone& d) const {
    out += std::string("  procedure done") + (d.error ? " error" : "") + "\n";
  }
};

}  // namespace

std::string recordedValue(const sql::Value& value) {
  if (std::holds_alternative<std::monostate>(value)) return "NULL";
  if (const auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&value)) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", *d);
    return std::string("float ") + buf;
  }
  if (const auto* s = std::get_if<std::string>(&value)) return quotedText(*s);
  if (const auto* t = std::get_if<sql::DateTime>(&value)) return "{" + t->iso() + "}";
  return hex(std::get<sql::Binary>(value).bytes);
}

Recorder::Recorder(const std::filesystem::path& file)
    : fd_(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, base::kPrivateFileMode)) {
  if (!fd_.valid())
    throw std::runtime_error("cannot write the recording " + file.string() + ": " + std::strerror(errno));
}

void Recorder::write(std::string_view block) {
  std::lock_guard lock(mutex_);
  while (!block.empty()) {
    const ssize_t n = ::write(fd_.get(), block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a recording that cannot be written does not stop the server
    block.remove_prefix(static_cast<std::size_t>(n));
  }
}

Recording::Recording(std::string_view header) : text_("@@ " + std::string(header) + "\n") {}

void Recording::settle() {
  text_ += reply_;
  reply_.clear();
}

void Recording::request(std::string_view kind, std::string_view text) {
  settle();
  text_ += "> " + std::string(kind) + " " + quotedText(text) + "\n";
}

void Recording::reply(const sql::BatchResult& result) {
  reply_.clear();
  if (result.cancelled) {
    reply_ = "  cancelled\n";
    return;
  }
  for (const auto& item : result.items) std::visit(ItemWriter{reply_}, item);
}

void Recording::replaceReply(std::string_view what) { reply_ = "  " + std::string(what) + "\n"; }

void Recording::note(std::string_view text) {
  settle();
  text_ += "  note " + quotedText(text) + "\n";
}

std::string Recording::finish() {
  settle();
  text_ += "@@ end\n";
  return std::move(text_);
}

}  // namespace standin::engine
