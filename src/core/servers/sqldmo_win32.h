// Windows only: the SQL-DMO side of the server enumerator (server_enumerator_win32.cpp).
// Qt-free.
#pragma once

#include <cstdint>
#include <memory>

#include "core/servers/server_enumerator.h"

struct IDispatch;

namespace bv::servers {

// The automation enumerator over a new object of the class `progId` ("SQLDMO.Application" in
// the program): ListAvailableSQLServers, then Count and Item on the name list it returns,
// all called by name. Nothing when the class is not installed; other failures throw
// EnumerationError.
std::unique_ptr<ServerEnumerator> createAutomationEnumerator(const wchar_t* progId);

// A name list over an automation object with Count and Item(index) (SQL-DMO's NameList).
// Takes a reference of its own to `list`, which must not be null.
std::unique_ptr<ServerNameList> automationNameList(IDispatch* list);

// True for the results of CLSIDFromProgID / CoCreateInstance that mean SQL-DMO is not
// installed (or cannot be loaded into this process): the SSRP browser takes its place.
bool isSqlDmoMissing(std::int32_t hresult);

}  // namespace bv::servers
