// Running clipra-cli in-process and outside tools (GDAL, cjpeg, ...) from tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace clipra {

struct CliResult {
  int code = 0;
  std::string out;
  std::string err;
};

// Runs clipra-cli's logic in this process, as if from a pipe.
CliResult RunClipra(const std::vector<std::string>& args);

// True when `name` is a program on the PATH.
bool HaveTool(const std::string& name);

// Runs a shell command; its exit status, with standard output in `output`
// when given (standard error passes through).
int RunCommand(const std::string& command, std::string* output = nullptr);

// Quotes `s` for the shell.
std::string ShellQuote(const std::string& s);

// The message of the `E` that `run` throws, or "no exception".
template <typename E>
std::string ThrownText(const std::function<void()>& run) {
  try {
    run();
  } catch (const E& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace clipra

// Skips the test when an outside tool is missing. CI installs them all, so
// there the tests always run.
#define REQUIRE_TOOL(name)                                                   \
  do {                                                                       \
    if (!::clipra::HaveTool(name)) GTEST_SKIP() << name " is not installed"; \
  } while (0)
