// The transport on POSIX: libcurl's SMTP. Certificates are always verified (peer and host name),
// with the settings' CA file instead of the system's when one is given; STARTTLS is required
// (CURLUSESSL_ALL: a server that does not offer it gets nothing, not even the login); SSL/TLS
// is smtps. The whole exchange is bounded by the settings' timeout. A recipient the server
// refuses is listed while the others still get the message (RFC 5321 3.3).
//
// libcurl's trace is the only place that tells which recipient a refusal answers, and it also
// carries the login exchange: the trace goes to Conversation alone, which keeps the server's
// replies and, of the client's lines, only the command's verb and a RCPT TO address. Nothing of
// the trace is printed.
#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/mail/mail_transport.h"
#include "core/mail/transport_text.h"
#include "core/sys/wipe.h"
#include "core/text/ascii.h"

namespace bv::mail {
namespace {

constexpr long kLongestConnect = 15'000;  // milliseconds; the whole exchange has its own bound

struct EasyCleanup {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct SlistCleanup {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistCleanup>;

bool append(Slist& list, const std::string& text) {
  curl_slist* head = curl_slist_append(list.get(), text.c_str());
  if (head == nullptr) return false;
  (void)list.release();
  list.reset(head);
  return true;
}

// libcurl once per process, before the first handle; never undone, as other threads may send.
bool curlReady() {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  return initialised == CURLE_OK;
}

std::string_view withoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char a = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
    if (a != prefix[i]) return false;
  }
  return true;
}

// The SMTP exchange as far as a result may tell it.
class Conversation {
 public:
  // A line the client sent (CURLINFO_HEADER_OUT).
  void sent(std::string_view data) {
    if (inLogin_) return;  // credentials: not a byte of them is kept
    const std::string_view line = withoutLineEnd(data);
    const std::size_t verbEnd = line.find_first_of(" :");
    verb_ = std::string(line.substr(0, verbEnd));
    verb_ = text::asciiUpper(verb_);
    if (verb_ == "AUTH") {
      inLogin_ = true;
    } else if (verb_ == "RCPT" && startsWithNoCase(line, "RCPT TO:")) {
      std::string_view address = line.substr(8);
      const std::size_t open = address.find('<');
      const std::size_t close = address.find('>');
      if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
        address = address.substr(open + 1, close - open - 1);
      }
      recipient_ = std::string(address);
    }
  }

  // Lines of the server's reply (CURLINFO_HEADER_IN); a reply may span lines ("250-...").
  void received(std::string_view data) {
    while (!data.empty()) {
      const std::size_t end = data.find('\n');
      replyLine(withoutLineEnd(data.substr(0, end)));
      data.remove_prefix(end == std::string_view::npos ? data.size() : end + 1);
    }
  }

  std::string lastReply;
  std::vector<RecipientRefusal> refused;

 private:
  void replyLine(std::string_view line) {
    if (line.size() < 3) return;
    if (!reply_.empty()) reply_ += " ";
    reply_ += line;
    const bool last = line.size() == 3 || line[3] != '-';
    if (!last) return;
    const std::string reply = std::exchange(reply_, {});
    const int code = std::atoi(std::string(line.substr(0, 3)).c_str());
    if (inLogin_) {
      if (code == 334) return;  // a challenge of the login exchange
      inLogin_ = false;
    }
    if (verb_ == "QUIT") return;  // the goodbye says nothing about the message
    lastReply = reply;
    if (verb_ == "RCPT" && code >= 400) refused.push_back({recipient_, reply});
  }

  bool inLogin_ = false;
  std::string verb_;
  std::string recipient_;
  std::string reply_;
};

int onTrace(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* conversation = static_cast<Conversation*>(user);
  // Only the SMTP lines are looked at; libcurl's own notes, the message and TLS records are not.
  if (type == CURLINFO_HEADER_OUT) conversation->sent(std::string_view(data, size));
  if (type == CURLINFO_HEADER_IN) conversation->received(std::string_view(data, size));
  return 0;
}

struct Upload {
  std::string_view bytes;
  std::size_t offset = 0;
};

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const std::size_t length = std::min(size * count, upload->bytes.size() - upload->offset);
  std::memcpy(buffer, upload->bytes.data() + upload->offset, length);
  upload->offset += length;
  return length;
}

std::string url(const MailSettings& settings) {
  std::string host = settings.server;
  // An IPv6 address goes into brackets in a URL.
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  return std::string(settings.security == Security::SslTls ? "smtps://" : "smtp://") + host + ":" +
         std::to_string(settings.port);
}

// The Japanese text for what ended the exchange.
std::string errorText(CURLcode code, const MailSettings& settings, std::size_t recipients,
                      std::size_t refused) {
  const std::string server = transport::serverText(settings);
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "SMTPサーバー「" + settings.server + "」が見つかりませんでした。";
    case CURLE_COULDNT_CONNECT:
      return "SMTPサーバー（" + server + "）に接続できませんでした。";
    case CURLE_OPERATION_TIMEDOUT:
      return "SMTPサーバー（" + server + "）が" + std::to_string(settings.timeout.count()) +
             "秒以内に応答しませんでした。";
    case CURLE_USE_SSL_FAILED:
      return "SMTPサーバー（" + server + "）がSTARTTLSに対応していないため、送信しませんでした。";
    case CURLE_PEER_FAILED_VERIFICATION:
      return "SMTPサーバー（" + server + "）の証明書を検証できませんでした。";
    case CURLE_SSL_CACERT_BADFILE:
      return "CA証明書のファイルを読み込めませんでした。";
    case CURLE_SSL_CONNECT_ERROR:
      return "SMTPサーバー（" + server + "）と暗号化した接続を確立できませんでした。";
    case CURLE_LOGIN_DENIED:
      return "SMTPサーバーにログインできませんでした。ユーザー名とパスワードを確認してください。";
    default:
      break;
  }
  if (recipients > 0 && refused == recipients) return "すべての宛先がSMTPサーバーに拒否されました。";
  return "メールを送信できませんでした。";
}

}  // namespace

SendResult sendMail(const MailSettings& settings, const MailMessage& message) {
  if (auto refused = transport::refusedSettings(settings))
    return transport::withoutSecrets(*refused, settings);
  SendResult result;
  if (!curlReady()) {
    result.error = "メールを送信できませんでした。\n詳細: libcurl を初期化できませんでした。";
    return result;
  }
  // The trace's owner outlives the handle: libcurl may still trace while the handle is cleaned up.
  Conversation conversation;
  std::string text = renderMessage(message);
  Upload upload{text};
  Slist recipients;
  for (const MailAddress& recipient : message.to) {
    if (!append(recipients, "<" + recipient.address + ">")) throw std::bad_alloc();
  }
  const MailAddress sender = parseMailAddress(settings.sender).value_or(MailAddress{{}, settings.sender});
  char details[CURL_ERROR_SIZE] = {};

  CURLcode code = CURLE_OK;
  {
    const EasyHandle handle(curl_easy_init());
    if (!handle) throw std::bad_alloc();
    CURL* curl = handle.get();
    const auto set = [&](CURLoption option, auto value) {
      if (code == CURLE_OK) code = curl_easy_setopt(curl, option, value);
    };
    const std::string address = url(settings);
    set(CURLOPT_URL, address.c_str());
    set(CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_ERRORBUFFER, details);
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(settings.timeout.count() * 1000));
    set(CURLOPT_CONNECTTIMEOUT_MS,
        std::min<long>(static_cast<long>(settings.timeout.count() * 1000), kLongestConnect));
    set(CURLOPT_FORBID_REUSE, 1L);
    set(CURLOPT_USE_SSL,
        static_cast<long>(settings.security == Security::None ? CURLUSESSL_NONE : CURLUSESSL_ALL));
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings.caFile.empty()) set(CURLOPT_CAINFO, settings.caFile.c_str());
    if (!settings.userName.empty()) {
      set(CURLOPT_USERNAME, settings.userName.c_str());
      set(CURLOPT_PASSWORD, settings.password.c_str());
    }
    const std::string from = "<" + sender.address + ">";
    set(CURLOPT_MAIL_FROM, from.c_str());
    set(CURLOPT_MAIL_RCPT, recipients.get());
    set(CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
    set(CURLOPT_UPLOAD, 1L);
    set(CURLOPT_READFUNCTION, &onRead);
    set(CURLOPT_READDATA, &upload);
    set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(text.size()));
    // The trace goes to Conversation and nowhere else (with a trace function set, libcurl prints
    // nothing of it).
    set(CURLOPT_DEBUGFUNCTION, &onTrace);
    set(CURLOPT_DEBUGDATA, &conversation);
    set(CURLOPT_VERBOSE, 1L);
    if (code == CURLE_OK) code = curl_easy_perform(curl);
  }
  sys::wipe(text);

  result.serverReply = conversation.lastReply;
  result.refused = conversation.refused;
  if (code == CURLE_OK) {
    result.sent = true;
  } else {
    result.error = errorText(code, settings, message.to.size(), result.refused.size());
    std::string reason = details[0] != '\0' ? details : curl_easy_strerror(code);
    result.error += "\n詳細: " + reason;
  }
  return transport::withoutSecrets(std::move(result), settings);
}

}  // namespace bv::mail
