// A minimal Windows service for the service-control tests: it reports "running" as soon as the
// service manager starts it and stops when asked. Started with --no-service it ends at once
// without talking to the manager, as any program that is no service does.
#include <windows.h>

#include <cstring>

namespace {

// The service's state, shared with the manager's callbacks (which take no context).
struct Service {
  SERVICE_STATUS_HANDLE status = nullptr;
  HANDLE stopRequested = nullptr;
};
Service service;

// The stop event, closed when the program ends.
class Event {
 public:
  Event() : handle_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

void report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  ::SetServiceStatus(service.status, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
  if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) {
    report(SERVICE_STOP_PENDING);
    ::SetEvent(service.stopRequested);
  }
  return NO_ERROR;
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
  service.status = ::RegisterServiceCtrlHandlerExW(L"", control, nullptr);
  if (service.status == nullptr) return;
  report(SERVICE_RUNNING);
  ::WaitForSingleObject(service.stopRequested, INFINITE);
  report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--no-service") == 0) return 0;
  const Event stop;
  service.stopRequested = stop.get();
  // An own-process service: the manager ignores the name in the table.
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
