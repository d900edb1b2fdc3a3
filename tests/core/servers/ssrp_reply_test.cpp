// The SSRP messages of the server browser: the CLNT_BCAST_EX request and the reading of
// SVR_RESP replies ([MC-SQLR] 2.2.1, 2.2.5), including replies that must be ignored.
#include "core/servers/ssrp_reply.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace bv::servers {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kExpress =
    "ServerName;STANDIN;InstanceName;SQLEXPRESS;IsClustered;No;Version;9.00.1399.06;tcp;14380;;";
const std::string kDefault =
    "ServerName;STANDIN;InstanceName;MSSQLSERVER;IsClustered;No;Version;8.00.194;tcp;1433;"
    "np;\\\\STANDIN\\pipe\\sql\\query;;";

std::string record(const std::string& server, const std::string& instance,
                   const std::string& version = "9.00.1399.06") {
  return "ServerName;" + server + ";InstanceName;" + instance + ";IsClustered;No;Version;" + version +
         ";tcp;1433;;";
}

std::vector<std::string> displayNames(const std::vector<SsrpInstance>& instances) {
  std::vector<std::string> names;
  for (const auto& instance : instances) names.push_back(serverDisplayName(instance));
  return names;
}

std::vector<std::string> namesOf(const std::string& respData) {
  return displayNames(parseSvrResp(makeSvrResp(respData)));
}

TEST(SsrpRequest, ClntBcastExIsTheSingleByte02) { EXPECT_EQ(clntBcastExRequest(), Bytes{0x02}); }

TEST(SsrpReplyFraming, HeaderIs05ThenTheLittleEndianSizeOfWhatFollows) {
  const std::string data(0x0102, 'x');
  const Bytes datagram = makeSvrResp(data);
  ASSERT_EQ(datagram.size(), 3u + 0x0102);
  EXPECT_EQ(datagram[0], 0x05);
  EXPECT_EQ(datagram[1], 0x02);
  EXPECT_EQ(datagram[2], 0x01);
  EXPECT_EQ(std::string(datagram.begin() + 3, datagram.end()), data);
  EXPECT_NO_THROW(makeSvrResp(std::string(65535, 'x')));
  EXPECT_THROW(makeSvrResp(std::string(65536, 'x')), std::length_error);
}

TEST(SsrpReplyReading, OneInstanceWithItsFields) {
  const auto instances = parseSvrResp(makeSvrResp(kExpress));
  ASSERT_EQ(instances.size(), 1u);
  EXPECT_EQ(instances[0].serverName, "STANDIN");
  EXPECT_EQ(instances[0].instanceName, "SQLEXPRESS");
  EXPECT_FALSE(instances[0].clustered);
  EXPECT_EQ(instances[0].version, "9.00.1399.06");
}

TEST(SsrpReplyReading, ConcatenatedInstancesKeepTheReplysOrder) {
  EXPECT_EQ(namesOf(kExpress + kDefault), (std::vector<std::string>{"STANDIN\\SQLEXPRESS", "STANDIN"}));
  // Neither sorted nor de-duplicated.
  EXPECT_EQ(namesOf(record("ZED", "B") + record("ALPHA", "A") + record("ZED", "B")),
            (std::vector<std::string>{"ZED\\B", "ALPHA\\A", "ZED\\B"}));
}

TEST(SsrpReplyReading, NamesAsUsersTypeThem) {
  SsrpInstance instance{"HOST", "MSSQLSERVER", false, "8.00.194"};
  EXPECT_EQ(serverDisplayName(instance), "HOST");
  instance.instanceName = "mssqlserver";
  EXPECT_EQ(serverDisplayName(instance), "HOST");
  instance.instanceName = "MSSQLSERVER2";
  EXPECT_EQ(serverDisplayName(instance), "HOST\\MSSQLSERVER2");
  instance.instanceName = "SQLEXPRESS";
  EXPECT_EQ(serverDisplayName(instance), "HOST\\SQLEXPRESS");
}

TEST(SsrpReplyReading, KeywordsInAnyCaseAndProtocolPartsInAnyOrderOrNone) {
  const auto instances = parseSvrResp(
      makeSvrResp("servername;A;INSTANCENAME;X;isclustered;yes;VERSION;10.50;np;\\\\A\\pipe\\MSSQL$X\\sql\\"
                  "query;tcp;1500;via;A,1433:1434;rpc;A;spx;X;adsp;SQL;bv;i;g;i;g;o;;"
                  "ServerName;B;InstanceName;MSSQLSERVER;IsClustered;No;Version;8.00.194;;"));
  ASSERT_EQ(instances.size(), 2u);
  EXPECT_TRUE(instances[0].clustered);
  EXPECT_EQ(serverDisplayName(instances[0]), "A\\X");
  EXPECT_EQ(serverDisplayName(instances[1]), "B");
}

TEST(SsrpReplyReading, FieldsAtTheProtocolsLimitsAreAccepted) {
  const std::string longest(255, 'S');
  const auto instances =
      parseSvrResp(makeSvrResp(record(longest, std::string(255, 'I'), "1234567890.23456")));
  ASSERT_EQ(instances.size(), 1u);
  EXPECT_EQ(instances[0].serverName, longest);
  EXPECT_EQ(instances[0].version.size(), 16u);
  // UTF-8 names pass through as they are.
  EXPECT_EQ(namesOf(record("サーバ", "インスタンス")), std::vector<std::string>{"サーバ\\インスタンス"});
}

TEST(SsrpReplyReading, TheLargestReplyIsReadWhole) {
  const std::string one = record("HOST", "I1234567");
  std::string data;
  while (data.size() + one.size() <= 65535) data += one;
  const auto instances = parseSvrResp(makeSvrResp(data));
  EXPECT_EQ(instances.size(), data.size() / one.size());
}

Bytes withHeader(std::uint8_t type, std::size_t declared, const std::string& data) {
  std::string raw;
  raw += static_cast<char>(type);
  raw += static_cast<char>(declared & 0xFF);
  raw += static_cast<char>((declared >> 8) & 0xFF);
  raw += data;
  return Bytes(raw.begin(), raw.end());
}

TEST(SsrpReplyIgnored, BrokenFraming) {
  EXPECT_TRUE(parseSvrResp(Bytes{}).empty());
  EXPECT_TRUE(parseSvrResp(Bytes{0x05}).empty());
  EXPECT_TRUE(parseSvrResp(Bytes{0x05, 0x00}).empty());
  EXPECT_TRUE(parseSvrResp(Bytes{0x05, 0x00, 0x00}).empty());  // nothing to list
  EXPECT_TRUE(parseSvrResp(withHeader(0x04, kExpress.size(), kExpress)).empty());
  EXPECT_TRUE(parseSvrResp(withHeader(0x02, kExpress.size(), kExpress)).empty());
  // RESP_SIZE larger than what came (truncated) or smaller (bytes past the reply).
  EXPECT_TRUE(parseSvrResp(withHeader(0x05, kExpress.size() + 1, kExpress)).empty());
  EXPECT_TRUE(parseSvrResp(withHeader(0x05, kExpress.size() - 1, kExpress)).empty());
  // A size sent big-endian: 0x0102 bytes of good records under 01 02.
  const std::string sized = record(std::string(0x0102 - record("", "A").size(), 'S'), "A");
  ASSERT_EQ(sized.size(), 0x0102u);
  EXPECT_TRUE(parseSvrResp(withHeader(0x05, 0x0201, sized)).empty());
  EXPECT_EQ(parseSvrResp(withHeader(0x05, 0x0102, sized)).size(), 1u);
  // The well-formed control case of the same helper.
  EXPECT_EQ(parseSvrResp(withHeader(0x05, kExpress.size(), kExpress)).size(), 1u);
}

TEST(SsrpReplyIgnored, BrokenRecords) {
  const std::string good = record("HOST", "A");
  const std::vector<std::string> broken = {
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;9.00;tcp;1433",        // no ";;"
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;9.00;tcp;1433;",       // one ";"
      "ServerName;HOST;InstanceName;A;IsClustered;No;;",                            // no Version
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;;",                    // empty version
      "ServerName;;InstanceName;A;IsClustered;No;Version;9.00;;",                   // empty server
      "ServerName;HOST;InstanceName;;IsClustered;No;Version;9.00;;",                // empty instance
      "InstanceName;A;ServerName;HOST;IsClustered;No;Version;9.00;;",               // fields swapped
      "ServerName;HOST;InstanceName;A;IsClustered;Maybe;Version;9.00;;",            // not Yes/No
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;9.0a;;",               // not a version
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;12345678901234567;;",  // 17 bytes
      "Server;HOST;InstanceName;A;IsClustered;No;Version;9.00;;",                   // wrong keyword
      ";ServerName;HOST;InstanceName;A;IsClustered;No;Version;9.00;;",              // leading ";"
      "ServerName;HO\\ST;InstanceName;A;IsClustered;No;Version;9.00;;",             // "\" in a name
      "ServerName;HOST;InstanceName;A\\B;IsClustered;No;Version;9.00;;",
      record(std::string(256, 'S'), "A"),  // names over 255 bytes
      record("HOST", std::string(256, 'I')),
      record("HO\tST", "A"),                  // control character
      record(std::string("HO\0ST", 5), "A"),  // NUL inside
      record("HO\xC3", "A"),                  // cut UTF-8 sequence
      record("HO\xC0\xAFST", "A"),            // overlong UTF-8
      record("HO\xED\xA0\x80ST", "A"),        // UTF-16 surrogate in UTF-8
      record("HO\x81ST", "A"),                // code page 932 byte, not UTF-8
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;9.00;tcp;65536;;",  // no port
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;9.00;tcp;14x;;",
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;9.00;tcp;;",         // no value
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;9.00;bv;i;g;i;g;;",  // bv short
      "ServerName;HOST;InstanceName;A;IsClustered;No;Version;9.00;smtp;25;;",     // unknown part
      good + ";",  // bytes after the last record
      good + "garbage",
  };
  for (const std::string& data : broken) {
    SCOPED_TRACE(data);
    EXPECT_TRUE(parseSvrResp(makeSvrResp(data)).empty());
    // One bad record spoils the whole reply, wherever it stands.
    EXPECT_TRUE(parseSvrResp(makeSvrResp(good + data)).empty());
    EXPECT_TRUE(parseSvrResp(makeSvrResp(data + good)).empty());
  }
  EXPECT_EQ(parseSvrResp(makeSvrResp(good + good)).size(), 2u);
}

// Every cut of a two-record reply: with the header's size left as sent, nothing is read; with
// a size matching the cut, exactly the records complete before it.
TEST(SsrpReplyIgnored, EveryTruncation) {
  const std::string data = kExpress + kDefault;
  const Bytes whole = makeSvrResp(data);
  for (std::size_t length = 0; length < whole.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_TRUE(parseSvrResp(std::span(whole.data(), length)).empty());
  }
  for (std::size_t length = 0; length <= data.size(); ++length) {
    SCOPED_TRACE(length);
    const auto instances = parseSvrResp(makeSvrResp(data.substr(0, length)));
    if (length == kExpress.size()) {
      EXPECT_EQ(displayNames(instances), std::vector<std::string>{"STANDIN\\SQLEXPRESS"});
    } else if (length == data.size()) {
      EXPECT_EQ(instances.size(), 2u);
    } else {
      EXPECT_TRUE(instances.empty());
    }
  }
}

bool isListable(const SsrpInstance& instance) {
  const auto nameOk = [](const std::string& name) {
    if (name.empty() || name.size() > 255) return false;
    for (const char c : name) {
      if (c == ';' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
    }
    return true;
  };
  if (!nameOk(instance.serverName) || !nameOk(instance.instanceName)) return false;
  if (instance.version.empty() || instance.version.size() > 16) return false;
  for (const char c : instance.version) {
    if ((c < '0' || c > '9') && c != '.') return false;
  }
  return true;
}

// Mutated replies, some with a header matching the mutation so the records themselves are
// read: no crash, every instance read obeys the protocol's limits, and reading what was read
// written out again gives the same instances.
TEST(SsrpReplyFuzz, MutatedRepliesAreReadSafelyOrIgnored) {
  std::mt19937 random(20240611u);
  const std::vector<std::string> seeds = {
      kExpress, kDefault, kExpress + kDefault,
      "ServerName;A;InstanceName;X;IsClustered;Yes;Version;1.2;bv;i;g;i;g;o;;"};
  const std::string alphabet = ";;;;\\.09AZaz \x05\x80\xC3\xA9\xFF";
  std::size_t accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string data = seeds[random() % seeds.size()];
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int edit = 0; edit < edits && !data.empty(); ++edit) {
      const std::size_t at = random() % data.size();
      switch (random() % 5) {
        case 0:
          data[at] = alphabet[random() % alphabet.size()];
          break;
        case 1:
          data.insert(at, 1, alphabet[random() % alphabet.size()]);
          break;
        case 2:
          data.erase(at, 1 + random() % 8);
          break;
        case 3:
          data.insert(at, data.substr(random() % data.size(), random() % 40));
          break;
        default:
          data.resize(at);
          break;
      }
    }
    Bytes datagram;
    if (random() % 3 == 0) {
      datagram =
          withHeader(static_cast<std::uint8_t>(random() % 3 == 0 ? random() : 0x05), random() % 512, data);
    } else {
      datagram = makeSvrResp(data);
    }
    const auto instances = parseSvrResp(datagram);
    if (instances.empty()) continue;
    ++accepted;
    std::string again;
    for (const auto& instance : instances) {
      ASSERT_TRUE(isListable(instance)) << data;
      again += "ServerName;" + instance.serverName + ";InstanceName;" + instance.instanceName +
               ";IsClustered;" + (instance.clustered ? "Yes" : "No") + ";Version;" + instance.version + ";;";
    }
    const auto reread = parseSvrResp(makeSvrResp(again));
    ASSERT_EQ(displayNames(reread), displayNames(instances)) << data;
  }
  // The loop reached the records, not only the header checks.
  EXPECT_GT(accepted, 100u);
}

}  // namespace
}  // namespace bv::servers
