#include "standin/wire/tds_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "standin/base/private_files.h"
#include "standin/base/text.h"
#include "standin/base/unique_fd.h"
#include "standin/wire/tds_protocol.h"

namespace standin::wire {

using base::UniqueFd;
using base::utf16leToUtf8;
using sql::BatchResult;
using sql::DateTime;
using sql::isNull;
using sql::Message;
using sql::ProcedureDone;
using sql::StatementDone;
using sql::valueToText;

namespace {

// Appends received requests to a file (the owner's only), one entry per request.
class Trace {
 public:
  explicit Trace(const std::filesystem::path& file) {
    if (!file.empty()) fd_ = base::openPrivateForAppend(file);
  }
  bool enabled() const { return fd_.valid(); }
  void log(int spid, const std::string& kind, const std::string& text) {
    if (!enabled()) return;
    const std::string entry =
        DateTime::now().iso() + " spid " + std::to_string(spid) + " " + kind + ":\n" + text + "\n-- end --\n";
    std::lock_guard lock(mutex_);
    std::string_view rest(entry);
    while (!rest.empty()) {
      const ssize_t n = ::write(fd_.get(), rest.data(), rest.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // a trace that cannot be written does not stop the server
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
  }

 private:
  std::mutex mutex_;
  UniqueFd fd_;
};

// An RPC as the trace shows it and the faults match it: the procedure, then each parameter.
std::string rpcText(const RpcRequest& req) {
  std::string text = req.procedure;
  for (const auto& p : req.params)
    text += "\n  " + (p.name.empty() ? std::string("(positional)") : p.name) + " = " +
            (isNull(p.value) ? std::string("NULL") : valueToText(p.value));
  return text;
}

struct Packet {
  std::uint8_t type = 0;
  std::uint8_t status = 0;
  std::string payload;
};

// One client connection: reads requests, runs them on its session, writes replies.
class Connection {
 public:
  Connection(int fd, engine::Engine& engine, Trace& trace, FaultPlan& faults, const ConnectionLimits& limits,
             std::atomic<bool>& loggedIn)
      : fd_(fd),
        engine_(engine),
        trace_(trace),
        faults_(faults),
        limits_(limits),
        loggedIn_(loggedIn),
        loginDeadline_(std::chrono::steady_clock::now() + limits.loginTimeout) {}

  void run() {
    try {
      while (true) {
        auto msg = readMessage();
        if (!msg) return;
        if (!handle(*msg)) return;
      }
    } catch (const std::exception&) {
      // A malformed request or a broken socket ends this session only.
    }
  }

 private:
  // ---- input ----

  bool fill(bool blocking) {
    char buf[16384];
    while (true) {
      // Until it has logged in, a client has loginTimeout from its connection to do so.
      if (blocking && !session_ && !waitForInputBefore(loginDeadline_)) {
        closed_ = true;
        return false;
      }
      const ssize_t n = ::recv(fd_, buf, sizeof buf, blocking ? 0 : MSG_DONTWAIT);
      if (n > 0) {
        in_.append(buf, static_cast<std::size_t>(n));
        return true;
      }
      if (n == 0) {
        closed_ = true;
        return false;
      }
      if (errno == EINTR) continue;
      if (!blocking && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
      closed_ = true;
      return false;
    }
  }

  // False when nothing arrives before `deadline`.
  bool waitForInputBefore(std::chrono::steady_clock::time_point deadline) const {
    while (true) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      const int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
      if (rc > 0) return true;
      if (rc < 0 && errno != EINTR) return false;
    }
  }

  // Before the login, a message may be no larger than maxLoginMessageBytes.
  void checkSize(const Packet& msg) const {
    if (!session_ && msg.payload.size() > limits_.maxLoginMessageBytes)
      throw ProtocolError("login message too large");
  }

  static bool knownType(std::uint8_t type) {
    return type == kSqlBatch || type == kRpc || type == kAttention || type == kTransactionManager ||
           type == kLogin7 || type == kSspi || type == kPrelogin;
  }

  std::optional<Packet> takePacket() {
    // Something that is not TDS is refused as soon as its first byte is seen.
    if (!in_.empty() && !knownType(static_cast<std::uint8_t>(in_[0])))
      throw ProtocolError("not a TDS packet");
    if (in_.size() >= 2 && (static_cast<std::uint8_t>(in_[1]) & ~0x1Bu) != 0)
      throw ProtocolError("bad packet status");
    if (in_.size() < 8) return std::nullopt;
    const std::size_t length = (static_cast<unsigned char>(in_[2]) << 8) | static_cast<unsigned char>(in_[3]);
    if (length < 8) throw ProtocolError("bad packet length");
    if (in_.size() < length) return std::nullopt;
    Packet p;
    p.type = static_cast<std::uint8_t>(in_[0]);
    p.status = static_cast<std::uint8_t>(in_[1]);
    p.payload = in_.substr(8, length - 8);
    in_.erase(0, length);
    return p;
  }

  std::optional<Packet> readPacket() {
    while (true) {
      if (auto p = takePacket()) return p;
      if (!fill(true)) return std::nullopt;
    }
  }

  // A whole request: packets up to the one with end-of-message.
  std::optional<Packet> readMessage() {
    auto first = readPacket();
    if (!first) return std::nullopt;
    Packet msg = std::move(*first);
    checkSize(msg);
    while (!(msg.status & kEom)) {
      auto more = readPacket();
      if (!more) return std::nullopt;
      if (more->type == kAttention) {
        // The client gave up on a request it had not finished sending.
        msg.type = kAttention;
        msg.status = kEom;
        msg.payload.clear();
        break;
      }
      if (more->type != msg.type) throw ProtocolError("packet type changed inside a message");
      msg.payload += more->payload;
      msg.status = more->status;
      checkSize(msg);
      if (msg.payload.size() > 256u * 1024u * 1024u) throw ProtocolError("request too large");
    }
    return msg;
  }

  // Called while a request runs: has the client sent an attention (or gone away)?
  bool attentionArrived() {
    if (attention_ || closed_) return true;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) fill(false);
    if (closed_) return true;
    while (in_.size() >= 8 && static_cast<std::uint8_t>(in_[0]) == kAttention) {
      const auto p2 = takePacket();
      if (!p2) break;
      attention_ = true;
    }
    return attention_;
  }

  // ---- output ----

  // Sends one reply as packets; a part of a reply that goes on (`endOfMessage` false) leaves the
  // last packet's end-of-message bit off.
  void send(const std::string& payload, bool endOfMessage = true) {
    const std::size_t chunk = static_cast<std::size_t>(packetSize_) - 8;
    std::size_t offset = 0;
    std::string wire;
    do {
      const std::size_t n = std::min(chunk, payload.size() - offset);
      const bool last = endOfMessage && offset + n >= payload.size();
      const std::size_t length = n + 8;
      wire.push_back(static_cast<char>(kTabularResult));
      wire.push_back(static_cast<char>(last ? kEom : 0));
      wire.push_back(static_cast<char>(length >> 8));
      wire.push_back(static_cast<char>(length & 0xFF));
      const int spid = session_ ? session_->spid() : 0;
      wire.push_back(static_cast<char>((spid >> 8) & 0xFF));
      wire.push_back(static_cast<char>(spid & 0xFF));
      wire.push_back(static_cast<char>(packetId_++));
      wire.push_back(0);
      wire.append(payload, offset, n);
      offset += n;
    } while (offset < payload.size());
    if (cutAfter_) {
      wire.resize(std::min(wire.size(), *cutAfter_));
      *cutAfter_ -= wire.size();
    }
    std::size_t sent = 0;
    while (sent < wire.size()) {
      const ssize_t n = ::send(fd_, wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw ProtocolError("send failed");
      }
      sent += static_cast<std::size_t>(n);
    }
  }

  void sendAttentionAck() {
    TokenWriter w(version_, engine_.serverName());
    w.done(kTokenDone, kDoneAttn, 0, 0);
    send(w.bytes());
    attention_ = false;
  }

  void sendResult(const BatchResult& r) {
    if (closed_) {
      session_->recordNote("the client went away before the reply");
      return;
    }
    if (r.cancelled || attention_) {
      if (!r.cancelled) session_->recordAttentionReply();
      sendAttentionAck();
      return;
    }
    TokenWriter w(version_, engine_.serverName());
    w.result(r);
    if (!stallBetween_) {
      send(w.bytes());
      return;
    }
    // A fault's reply a statement at a time, held between statements; one message all the same.
    const auto hold = *std::exchange(stallBetween_, std::nullopt);
    const std::string& all = w.bytes();
    std::size_t from = 0;
    for (const std::size_t end : w.statementEnds()) {
      if (end >= all.size()) break;
      send(all.substr(from, end - from), false);
      from = end;
      if (!holdFor(hold)) return;
    }
    send(all.substr(from));
  }

  // ---- requests ----

  bool handle(const Packet& msg) {
    if (msg.type == kAttention) {
      sendAttentionAck();
      return true;
    }
    if (msg.status & kIgnore) {
      TokenWriter w(version_, engine_.serverName());
      w.done(kTokenDone, kDoneFinal, 0, 0);
      send(w.bytes());
      return true;
    }
    if (!session_) {
      if (msg.type == kPrelogin) {
        send(preloginReply(engine_.version()));
        return true;
      }
      if (msg.type == kLogin7) {
        if (const auto stall = faults_.loginStall(); stall && !holdFor(*stall)) return false;
        return login(msg.payload);
      }
      return false;  // nothing else is allowed before a login
    }
    const engine::Session::CancelCheck cancel = [this] { return attentionArrived(); };
    switch (msg.type) {
      case kSqlBatch: {
        Reader r(msg.payload);
        skipAllHeaders(r, version_);
        const std::string text = utf16leToUtf8(msg.payload.substr(r.pos()));
        trace_.log(session_->spid(), "batch", text);
        if (!applyFaults("batch", text)) return false;
        sendResult(session_->executeBatch(text, cancel));
        return !cutAfter_;
      }
      case kRpc: {
        RpcRequest req;
        try {
          req = parseRpc(msg.payload, version_);
        } catch (const ProtocolError& e) {
          session_->recordNote(std::string("a malformed rpc, refused with 8016: ") + e.what());
          BatchResult r;
          r.items.push_back(
              Message{8016,
                      1,
                      16,
                      std::string("The incoming tabular data stream (TDS) remote procedure call (RPC) "
                                  "protocol stream is incorrect. ") +
                          e.what(),
                      1,
                      {}});
          r.items.push_back(ProcedureDone{true});
          sendResult(r);
          return true;
        }
        const std::string text = rpcText(req);
        trace_.log(session_->spid(), "rpc", text);
        if (!applyFaults("rpc", text)) return false;
        sendResult(session_->callProcedure(req.procedure, std::move(req.params), cancel));
        return !cutAfter_;
      }
      case kTransactionManager: {
        const auto tm = parseTransactionManager(msg.payload, version_);
        trace_.log(session_->spid(), "transaction manager", std::to_string(tm.type));
        const char* const kinds[] = {"BEGIN TRANSACTION", "COMMIT TRANSACTION", "ROLLBACK TRANSACTION"};
        if (tm.type >= 5 && tm.type <= 8 && tm.type != 6 &&
            !applyFaults("transaction", kinds[tm.type == 5 ? 0 : tm.type - 6]))
          return false;
        BatchResult r;
        if (tm.type == 5) {
          r = session_->beginTransaction();
        } else if (tm.type == 7) {
          r = session_->commitTransaction(tm.beginNew);
        } else if (tm.type == 8) {
          r = session_->rollbackTransaction(tm.beginNew);
        } else {
          session_->recordNote("transaction manager request " + std::to_string(tm.type) + ", refused");
          r.items.push_back(Message{
              50000, 1, 16, "The stand-in server does not support this transaction manager request.", 1, {}});
        }
        const bool failed = r.failed();
        r.items.push_back(StatementDone{failed, std::nullopt, false, StatementDone::Command::Other});
        sendResult(r);
        return !cutAfter_;
      }
      default:
        return false;
    }
  }

  // ---- faults on demand (faults.h) ----

  // Applies the faults that match a request: false when the connection is to close now.
  bool applyFaults(const char* kind, std::string_view text) {
    for (const Fault& f : faults_.forRequest(text)) {
      switch (f.action) {
        case Fault::Action::Drop:
          session_->recordNote(std::string("a fault dropped the ") + kind + " " + std::string(text));
          return false;
        case Fault::Action::Stall:
          if (!holdFor(f.duration)) {
            session_->recordNote(std::string("the client went away while a fault stalled the ") + kind);
            return false;
          }
          break;
        case Fault::Action::DropAfterBytes:
          session_->recordNote("a fault cuts the next reply after " + std::to_string(f.bytes) + " bytes");
          cutAfter_ = f.bytes;
          break;
        case Fault::Action::StallBetween:
          stallBetween_ = f.duration;
          break;
        case Fault::Action::StallLogin:
        case Fault::Action::Throttle:  // the engine's (EngineConfig::statementFaults)
        case Fault::Action::DamageRestore:
        case Fault::Action::VolumeFree:
        case Fault::Action::Hold:
        case Fault::Action::OccupyRestore:
        case Fault::Action::BreakRestore:
          break;
      }
    }
    return true;
  }

  // Holds the session for `time`, sending nothing. What the client sends meanwhile (an
  // attention) is kept for afterwards; false when it goes away, or the server stops, first.
  bool holdFor(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (true) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return true;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) > 0) {
        fill(false);
        if (closed_) return false;
      }
    }
  }

  bool login(const std::string& payload) {
    const Login7 l = parseLogin7(payload);
    if (l.tdsVersion < base::kTds70) return false;  // TDS 4.2 / 5.0 clients are not served
    version_ = base::negotiateTdsVersion(l.tdsVersion, engine_.version().tdsVersion);
    engine::LoginRequest req;
    req.user = l.userName;
    req.password = l.password;
    req.database = l.database;
    req.language = l.language;
    req.hostName = l.hostName;
    req.appName = l.appName;
    req.integrated = l.integrated();
    trace_.log(0, "login",
               "user " + l.userName + ", database " + (l.database.empty() ? "(default)" : l.database));
    engine::LoginResult result = engine_.login(req);
    TokenWriter w(version_, engine_.serverName());
    if (!result.session) {
      for (const auto& m : result.errors) w.message(m);
      w.done(kTokenDone, kDoneError, 0, 0);
      send(w.bytes());
      return false;  // SQL Server closes the connection after a failed login
    }
    session_ = std::move(result.session);
    loggedIn_ = true;
    const std::string db = session_->currentDatabase();
    w.envChange(1, db, "master");
    w.message(Message{5701, 2, 0, "Changed database context to '" + db + "'.", 1, {}});
    w.envChangeBytes(7, kCollation, "");
    w.envChange(2, "us_english", "");
    w.message(Message{5703, 1, 0, "Changed language setting to us_english.", 1, {}});
    w.loginAck(engine_.version());
    const std::uint32_t requested = l.packetSize == 0 ? 4096 : l.packetSize;
    const int size = static_cast<int>(std::clamp<std::uint32_t>(requested, 512, 32767));
    w.envChange(4, std::to_string(size), "4096");
    w.done(kTokenDone, kDoneFinal, 0, 0);
    send(w.bytes());
    packetSize_ = size;
    return true;
  }

  int fd_;
  engine::Engine& engine_;
  Trace& trace_;
  FaultPlan& faults_;
  std::optional<std::chrono::milliseconds> stallBetween_;  // a fault holds the reply between statements
  std::optional<std::size_t> cutAfter_;  // a fault sends only this much more, then the connection closes
  const ConnectionLimits& limits_;
  std::atomic<bool>& loggedIn_;  // read by the accepting thread
  std::chrono::steady_clock::time_point loginDeadline_;
  std::string in_;
  bool closed_ = false;
  bool attention_ = false;
  std::uint32_t version_ = base::kTds71;
  int packetSize_ = 4096;
  std::uint8_t packetId_ = 1;
  std::unique_ptr<engine::Session> session_;
};

UniqueFd listenOn(int family, std::uint16_t port, std::uint16_t& boundPort) {
  UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return fd;
  const int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  int rc = -1;
  if (family == AF_INET) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    rc = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  } else {
    ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    rc = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  if (rc != 0 || ::listen(fd.get(), 64) != 0) return UniqueFd();
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&ss), &len);
  boundPort = family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port)
                                : ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
  return fd;
}

}  // namespace

struct TdsServer::Impl {
  engine::Engine& engine;
  TdsServerConfig config;
  Trace trace;
  FaultPlan faults;
  UniqueFd v4, v6;
  UniqueFd wakeRead, wakeWrite;
  std::uint16_t port = 0;
  std::thread acceptThread;
  bool running = false;

  struct Slot {
    UniqueFd fd;
    std::thread thread;
    std::atomic<bool> finished{false};
    std::atomic<bool> loggedIn{false};
    bool closedUnheard = false;  // shut down for a newer connection (under mutex)
  };
  mutable std::mutex mutex;
  std::list<std::unique_ptr<Slot>> slots;
  std::atomic<int> live{0};  // connections whose thread has not ended
  std::atomic<std::uint64_t> accepted{0};

  Impl(engine::Engine& e, TdsServerConfig c)
      : engine(e), config(std::move(c)), trace(config.traceFile), faults(config.faults) {}

  void reap() {
    std::lock_guard lock(mutex);
    for (auto it = slots.begin(); it != slots.end();) {
      if ((*it)->finished) {
        (*it)->thread.join();
        it = slots.erase(it);
      } else {
        ++it;
      }
    }
  }

  // Keeps the connections not logged in under their cap, a new one about to join them: the
  // oldest go. Closing the oldest rather than refusing the newest lets a real client, which
  // logs in at once, in however many silent sockets another local user keeps open.
  void makeRoomForOneNotLoggedIn() {
    const int cap = config.limits.maxConnectionsNotLoggedIn();
    std::lock_guard lock(mutex);
    int waiting = 0;
    for (const auto& s : slots)
      if (!s->finished && !s->loggedIn && !s->closedUnheard) ++waiting;
    for (auto it = slots.begin(); it != slots.end() && waiting >= cap; ++it) {
      Slot& s = **it;
      if (s.finished || s.loggedIn || s.closedUnheard) continue;
      ::shutdown(s.fd.get(), SHUT_RDWR);
      s.closedUnheard = true;
      --waiting;
    }
  }

  // Waits for `pause`, or less when the server is stopped; false when it is.
  bool pauseUnlessStopped(std::chrono::milliseconds pause) {
    pollfd p{wakeRead.get(), POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(pause.count())) == 0;
  }

  void acceptLoop() {
    while (true) {
      pollfd fds[3];
      nfds_t n = 0;
      fds[n++] = pollfd{wakeRead.get(), POLLIN, 0};
      fds[n++] = pollfd{v4.get(), POLLIN, 0};
      if (v6.valid()) fds[n++] = pollfd{v6.get(), POLLIN, 0};
      const int rc = ::poll(fds, n, 1000);
      if (rc < 0 && errno != EINTR) return;
      if (fds[0].revents) return;
      reap();
      for (nfds_t i = 1; i < n; ++i) {
        if (!(fds[i].revents & POLLIN)) continue;
        UniqueFd client(::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC));
        if (!client.valid()) {
          // Out of descriptors or memory, the client stays queued and the listener readable:
          // wait a while rather than spin on it.
          if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            if (!pauseUnlessStopped(config.limits.acceptPause)) return;
          }
          continue;
        }
        accepted.fetch_add(1);
        // One more than the cap is closed at once, so that it is not left waiting.
        if (live.load() >= config.limits.maxConnections) continue;
        makeRoomForOneNotLoggedIn();
        const int one = 1;
        ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto slot = std::make_unique<Slot>();
        slot->fd = std::move(client);
        Slot* raw = slot.get();
        std::lock_guard lock(mutex);
        slots.push_back(std::move(slot));
        live.fetch_add(1);
        raw->thread = std::thread([this, raw] {
          Connection(raw->fd.get(), engine, trace, faults, config.limits, raw->loggedIn).run();
          ::shutdown(raw->fd.get(), SHUT_RDWR);
          live.fetch_sub(1);
          raw->finished = true;
        });
      }
    }
  }
};

TdsServer::TdsServer(engine::Engine& engine, TdsServerConfig config)
    : impl_(std::make_unique<Impl>(engine, std::move(config))) {}

TdsServer::~TdsServer() { stop(); }

void TdsServer::start() {
  if (impl_->running) return;
  std::uint16_t bound = 0;
  impl_->v4 = listenOn(AF_INET, impl_->config.port, bound);
  if (!impl_->v4.valid())
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(impl_->config.port) + ": " +
                             std::strerror(errno));
  impl_->port = bound;
  if (impl_->config.ipv6) {
    std::uint16_t bound6 = 0;
    impl_->v6 = listenOn(AF_INET6, bound, bound6);  // absent or taken: IPv4 only
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
  impl_->wakeRead = UniqueFd(pipeFds[0]);
  impl_->wakeWrite = UniqueFd(pipeFds[1]);
  impl_->running = true;
  impl_->acceptThread = std::thread([this] { impl_->acceptLoop(); });
}

void TdsServer::stop() {
  if (!impl_->running) return;
  impl_->running = false;
  const char byte = 1;
  [[maybe_unused]] const auto ignored = ::write(impl_->wakeWrite.get(), &byte, 1);
  impl_->acceptThread.join();
  impl_->v4.reset();
  impl_->v6.reset();
  std::list<std::unique_ptr<Impl::Slot>> slots;
  {
    std::lock_guard lock(impl_->mutex);
    for (auto& s : impl_->slots) ::shutdown(s->fd.get(), SHUT_RDWR);
    slots.swap(impl_->slots);
  }
  for (auto& s : slots) s->thread.join();
}

std::uint16_t TdsServer::port() const { return impl_->port; }
bool TdsServer::listensOnIpv6() const { return impl_->v6.valid(); }

int TdsServer::openConnections() const {
  std::lock_guard lock(impl_->mutex);
  int n = 0;
  for (const auto& s : impl_->slots)
    if (!s->finished) ++n;
  return n;
}

std::uint64_t TdsServer::acceptedConnections() const { return impl_->accepted.load(); }

}  // namespace standin::wire
