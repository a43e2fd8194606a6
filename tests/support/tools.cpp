#include "support/tools.h"

#include <sys/wait.h>

#include <cstdio>
#include <sstream>

#include "app/core/cli.h"

namespace clipra {

CliResult RunClipra(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  CliResult result;
  result.code = RunCli(args, out, err, false);
  result.out = out.str();
  result.err = err.str();
  return result;
}

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + ShellQuote(name) + " >/dev/null 2>&1") == 0;
}

int RunCommand(const std::string& command, std::string* output) {
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
    if (output) output->append(buf, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace clipra
