// A fake of CDO's "CDO.Message" for the Windows tests: Wine has no cdosys, so the CDO transport
// is driven against this automation object instead (through CdoFactoryOverride). It answers the
// late-bound calls the transport makes (Configuration.Fields.Item(...).Value, Fields.Update,
// BodyPart.Charset, From, To, Subject, TextBody, Send) and records them.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace mailtest {

struct FakeCdoRecord {
  struct Value {
    VARTYPE type = VT_EMPTY;
    std::string text;  // UTF-8; a number in decimal; "true" / "false"
    bool operator==(const Value&) const = default;
  };
  std::map<std::string, Value> fields;      // by the field's full name
  std::map<std::string, Value> properties;  // "From", "BodyPart.Charset", ...
  std::vector<std::string> calls;  // in order: "Fields.Update", "BodyPart.Charset", "Subject", "Send", ...
  std::string sendFailure;         // when set, Send raises it as the exception's description
  int liveObjects = 0;             // objects not yet released
};

// A new message object over `record`, with one reference for the caller.
HRESULT createFakeCdoMessage(const std::shared_ptr<FakeCdoRecord>& record, IDispatch** message);

}  // namespace mailtest
