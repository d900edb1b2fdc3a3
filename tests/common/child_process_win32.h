// Windows only: runs a program with a raw command line, exactly what the child's
// GetCommandLineW returns, and collects its outputs. The child inherits this process's
// environment (tests change it with ScopedEnvironment first).
#pragma once

#include <filesystem>
#include <string>

namespace bvtest {

struct ChildResult {
  int status = -1;  // the exit code; -1 when the child could not be started or did not end
  std::string out;  // standard output, as bytes (UTF-8 from the programs of this project)
  std::string err;  // standard error
};

// Starts `program` with `commandLine` (UTF-8; it names the program itself first, quoted or
// not, as the starter chooses) and waits for it to end (at most two minutes, then it is
// ended and the result says -1). `standardInput`, when given, is what the child reads on its
// standard input (empty: the null device).
ChildResult runCommandLine(const std::filesystem::path& program, const std::string& commandLine,
                           const std::string& standardInput = {});

// `"program" arguments`: the program's full path in quotes, one blank, then the arguments as
// they stand; just the quoted path when there are none.
std::string quotedCommandLine(const std::filesystem::path& program, const std::string& arguments);

// A program built into the same folder as the running one (every executable of this build
// lands in one folder).
std::filesystem::path besideThisProgram(const std::wstring& fileName);

// The text with each CR LF made a line feed: the C runtime writes line feeds to files and pipes
// as CR LF on Windows.
std::string lineFeeds(const std::string& text);

// A path as UTF-8 text.
std::string utf8(const std::filesystem::path& path);

}  // namespace bvtest
