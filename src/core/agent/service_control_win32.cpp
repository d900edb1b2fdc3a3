// The Windows service control manager (advapi32) behind the service control interface. Every
// operation opens the local manager (active services database) with SC_MANAGER_ALL_ACCESS and
// the service with SERVICE_ALL_ACCESS, also for the queries, so that a user without the right
// to change services reads 0 from every query.
#include <windows.h>
#include <winsvc.h>

#include <string>
#include <utility>
#include <vector>

#include "core/agent/service_control.h"

namespace bv::agent {
namespace {

constexpr DWORD kManagerAccess = 0xF003F;  // SC_MANAGER_ALL_ACCESS
constexpr DWORD kServiceAccess = 0xF01FF;  // SERVICE_ALL_ACCESS
constexpr DWORD kNoChange = 0xFFFFFFFF;    // SERVICE_NO_CHANGE
constexpr DWORD kAutoStart = 2;            // SERVICE_AUTO_START

static_assert(kManagerAccess == SC_MANAGER_ALL_ACCESS);
static_assert(kServiceAccess == SERVICE_ALL_ACCESS);
static_assert(kNoChange == SERVICE_NO_CHANGE);
static_assert(kAutoStart == SERVICE_AUTO_START);

class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  ScHandle(ScHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  ScHandle& operator=(ScHandle&&) = delete;
  SC_HANDLE get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

class Win32Service final : public ServiceSession {
 public:
  // The manager is declared first, so the service handle is closed before it.
  Win32Service(ScHandle&& manager, ScHandle&& service)
      : manager_(std::move(manager)), service_(std::move(service)) {}

  std::optional<std::uint32_t> queryState() override {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service_.get(), &status)) return std::nullopt;
    return static_cast<std::uint32_t>(status.dwCurrentState);
  }

  std::optional<std::uint32_t> queryStartType() override {
    DWORD needed = 0;
    if (QueryServiceConfigA(service_.get(), nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
      return std::nullopt;
    }
    // The whole record, strings included, in a buffer of the size the manager asks for,
    // aligned for the record.
    std::vector<QUERY_SERVICE_CONFIGA> buffer((needed + sizeof(QUERY_SERVICE_CONFIGA) - 1) /
                                              sizeof(QUERY_SERVICE_CONFIGA));
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(QUERY_SERVICE_CONFIGA));
    if (!QueryServiceConfigA(service_.get(), buffer.data(), size, &needed)) return std::nullopt;
    return static_cast<std::uint32_t>(buffer.front().dwStartType);
  }

  bool changeStartTypeToAutomatic() override {
    return ChangeServiceConfigA(service_.get(), kNoChange, kAutoStart, kNoChange, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr) != FALSE;
  }

  bool requestStart() override { return StartServiceA(service_.get(), 0, nullptr) != FALSE; }

 private:
  ScHandle manager_;
  ScHandle service_;
};

class Win32ServiceManager final : public ServiceManager {
 public:
  std::unique_ptr<ServiceSession> openService(std::string_view name) override {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, kManagerAccess));
    if (!manager) return nullptr;
    const std::string serviceName(name);
    ScHandle service(OpenServiceA(manager.get(), serviceName.c_str(), kServiceAccess));
    if (!service) return nullptr;  // the manager closes on the way out
    return std::make_unique<Win32Service>(std::move(manager), std::move(service));
  }
};

}  // namespace

ServiceManager& systemServiceManager() {
  static Win32ServiceManager instance;
  return instance;
}

}  // namespace bv::agent
