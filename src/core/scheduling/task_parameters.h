// The one description of a backup, maintenance::BackupRequest, as a scheduled task carries it to
// Brackenrun: the parameter string's codec. The window encodes the request it filled; the runner
// decodes the string back into the request it runs. Fields as tasks::TaskField places them:
//   1 authentication, "1" Windows or "2" SQL Server
//   2 login name, encoded ("0" under Windows authentication)
//   3 password, encoded ("0" under Windows authentication)
//   4 server, 5 database, 6 backup file, each encoded (tasks::EncodeTaskArgument)
//   7 verify, "1" or "0"
//   8 the backup files kept, plain decimal: written only when not 0 (keep all), or as "0" when a
//     ninth follows
//   9 the test restore, "1": written only when asked for, or as "0" when a tenth follows
//   10 the kind, "0" full, "1" differential, "2" log: written only when not full, or as "0" when
//      an eleventh follows
//   11 the checksum, "1": written only when asked for
// With none of them, the string is exactly the seven arguments of earlier versions. Qt-free.
#pragma once

#include <string>
#include <vector>

#include "core/maintenance/operations.h"

namespace bv::scheduling {

// The parameter string of the request. Texts are taken as they stand; under Windows
// authentication the login fields are not read. Throws tasks::TaskArgumentError for a text that
// cannot be encoded.
std::string encodeTaskParameters(const maintenance::BackupRequest& request);

// The request read back from the string's arguments (tasks::splitTaskParameters): seven to eleven
// (a shorter string keeps every file, proves nothing, makes a full backup without checksums). Throws tasks::TaskArgumentError,
// naming the argument by number and role, for a wrong count, generations other than 0 or 2 to
// 365 in plain decimal, a test restore or checksum other than "1" and "0", a kind other than "0",
// "1" and "2", an authentication code other than
// "1" and "2", login fields other than "0" under Windows authentication, an argument that does
// not decode, an empty server, database, backup file or (under SQL Server authentication) login
// name, and a verify flag other than "1" and "0".
maintenance::BackupRequest decodeTaskParameters(const std::vector<std::string>& arguments);

}  // namespace bv::scheduling
