// The server enumerator behind the server browser: the SQL Server instances visible on the
// network, as a name list read with Count and a 1-based Item. The dialog calls it in a fixed
// order: create the enumerator, ListAvailableSQLServers, Count, Item(1..Count), Count again,
// then release the name list and the enumerator (destroying them; on every path).
//
// On Windows the enumerator is the SQL-DMO automation object "SQLDMO.Application"; where that
// class is not registered (current Windows no longer ships it), and on every other platform,
// it is an SSRP browser ([MC-SQLR]) that broadcasts CLNT_BCAST_EX and collects the replies.
// One header; the platform's source file (server_enumerator_posix.cpp or
// server_enumerator_win32.cpp) provides createServerEnumerator. Qt-free.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace bv::servers {

// Raised when the names cannot be listed. Its message is what the user sees: a fixed
// sentence, CR LF CR LF, then the system's own text (see enumerationFailureText).
class EnumerationError : public std::runtime_error {
 public:
  explicit EnumerationError(const std::string& detail);
};

// "サーバの一覧を取得できませんでした。" followed by CR LF CR LF and the detail.
std::string enumerationFailureText(const std::string& detail);

// The name list that ListAvailableSQLServers returns (SQL-DMO's NameList).
class ServerNameList {
 public:
  virtual ~ServerNameList() = default;
  // The number of names.
  virtual long Count() = 0;
  // The name at a 1-based index (1 .. Count()); UTF-8. Throws EnumerationError when the
  // index is out of range.
  virtual std::string Item(long index) = 0;
};

// The enumerator object (SQL-DMO's Application).
class ServerEnumerator {
 public:
  virtual ~ServerEnumerator() = default;
  // Lists the servers visible now. Blocks until the list is complete.
  virtual std::unique_ptr<ServerNameList> ListAvailableSQLServers() = 0;
};

// Creates an enumerator: the dialog's first step. May throw EnumerationError; never returns
// a null pointer.
using ServerEnumeratorFactory = std::function<std::unique_ptr<ServerEnumerator>()>;

// Where the SSRP browser asks and how long it listens.
struct SsrpTarget {
  // IPv4 address in dotted form: the limited broadcast address, or one host.
  std::string address = "255.255.255.255";
  // The SQL Server Browser's UDP port [MC-SQLR] 2.1.
  std::uint16_t port = 1434;
  // Replies are collected for this long after the request is sent; then the list is complete.
  std::chrono::milliseconds collectTime{1000};
};

// A name list holding names already collected.
class FixedNameList final : public ServerNameList {
 public:
  explicit FixedNameList(std::vector<std::string> names);
  long Count() override;
  std::string Item(long index) override;

 private:
  std::vector<std::string> names_;
};

// The platform's enumerator (see above); `fallback` is where the SSRP browser asks.
std::unique_ptr<ServerEnumerator> createServerEnumerator(const SsrpTarget& fallback = {});

// A factory creating the platform's enumerator at every call.
ServerEnumeratorFactory platformEnumeratorFactory(SsrpTarget fallback = {});

}  // namespace bv::servers
