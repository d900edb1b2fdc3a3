// Windows only: where the CDO transport (mail_transport_cdo_win32.cpp) gets its "CDO.Message"
// object. The program always creates the system's; a test installs a factory of its own for as
// long as a CdoFactoryOverride lives (Wine has no cdosys). Qt-free.
#pragma once

#include <functional>

struct IDispatch;

namespace bv::mail {

// Makes a new message object: an HRESULT, and on success one reference in *message.
using CdoMessageFactory = std::function<long(IDispatch** message)>;

class CdoFactoryOverride {
 public:
  explicit CdoFactoryOverride(CdoMessageFactory factory);
  ~CdoFactoryOverride();
  CdoFactoryOverride(const CdoFactoryOverride&) = delete;
  CdoFactoryOverride& operator=(const CdoFactoryOverride&) = delete;

 private:
  CdoMessageFactory previous_;
};

}  // namespace bv::mail
