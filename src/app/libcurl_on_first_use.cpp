// libcurl for the program, loaded when the first mail is sent rather than when the program
// starts. libcurl brings in its TLS, Kerberos, LDAP and SSH libraries: loaded at start they
// took a fifth of the program's time to its first painted window and some 6 MiB, for a test
// mail that most sessions never send.
//
// The program's executable defines the libcurl functions that the mail transport
// (core/mail/mail_transport_curl.cpp) calls, and links with --as-needed, so that it does not
// need libcurl.so.4 to start (src/app/CMakeLists.txt; a test checks its dynamic section).
// Each definition hands the call on to the library, which curl_global_init loads; the transport
// calls nothing else before curl_global_init has succeeded. A function the transport starts to
// call that is not defined here makes the executable need libcurl again, and that test fails.
// Brackenrun and the tick link libcurl as usual, and so keep the package's dependency on it.
#define CURL_DISABLE_TYPECHECK  // curl_easy_setopt is defined here, not called
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>

namespace {

struct Libcurl {
  void* library = nullptr;  // never closed: libcurl's global state lives until the process ends
  CURLcode (*globalInit)(long) = nullptr;
  CURL* (*easyInit)() = nullptr;
  CURLcode (*easySetopt)(CURL*, CURLoption, ...) = nullptr;
  CURLcode (*easyPerform)(CURL*) = nullptr;
  void (*easyCleanup)(CURL*) = nullptr;
  const char* (*easyStrerror)(CURLcode) = nullptr;
  curl_slist* (*slistAppend)(curl_slist*, const char*) = nullptr;
  void (*slistFreeAll)(curl_slist*) = nullptr;
  bool loaded = false;
};

template <typename Function>
bool resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  return function != nullptr;
}

// Loaded once, by the first call (curl_global_init's); kept for the process's life.
const Libcurl& libcurl() {
  static const Libcurl library = [] {
    Libcurl functions;
    void* handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return functions;
    functions.library = handle;
    functions.loaded = resolve(handle, "curl_global_init", functions.globalInit) &&
                       resolve(handle, "curl_easy_init", functions.easyInit) &&
                       resolve(handle, "curl_easy_setopt", functions.easySetopt) &&
                       resolve(handle, "curl_easy_perform", functions.easyPerform) &&
                       resolve(handle, "curl_easy_cleanup", functions.easyCleanup) &&
                       resolve(handle, "curl_easy_strerror", functions.easyStrerror) &&
                       resolve(handle, "curl_slist_append", functions.slistAppend) &&
                       resolve(handle, "curl_slist_free_all", functions.slistFreeAll);
    return functions;
  }();
  return library;
}

}  // namespace

// A library that cannot be loaded fails the initialisation, and the transport reports that.
CURLcode curl_global_init(long flags) {
  return libcurl().loaded ? libcurl().globalInit(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init() { return libcurl().loaded ? libcurl().easyInit() : nullptr; }

// The one argument after the option has the type of the option's range (curl/curl.h, CURLOPTTYPE_*).
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
  va_list arguments;
  va_start(arguments, option);
  CURLcode code;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    code = libcurl().easySetopt(handle, option, va_arg(arguments, long));
  } else if (option < CURLOPTTYPE_OFF_T) {  // data and function pointers alike
    code = libcurl().easySetopt(handle, option, va_arg(arguments, void*));
  } else if (option < CURLOPTTYPE_BLOB) {
    code = libcurl().easySetopt(handle, option, va_arg(arguments, curl_off_t));
  } else {
    code = libcurl().easySetopt(handle, option, va_arg(arguments, void*));
  }
  va_end(arguments);
  return code;
}

CURLcode curl_easy_perform(CURL* handle) { return libcurl().easyPerform(handle); }

void curl_easy_cleanup(CURL* handle) { libcurl().easyCleanup(handle); }

const char* curl_easy_strerror(CURLcode code) { return libcurl().easyStrerror(code); }

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  return libcurl().slistAppend(list, text);
}

void curl_slist_free_all(curl_slist* list) { libcurl().slistFreeAll(list); }
