// The headless program's logic, kept apart from main so that tests can run it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace clipra {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAborted = 130;

// Runs clipra-cli with `args` (without the program name). Progress goes to
// `err`, drawn as a bar when `err_is_terminal`.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool err_is_terminal);

// What a user needs to choose a rectangle in `source`; false with a message
// on `err` when it cannot be opened.
bool PrintInfo(const std::string& source, std::ostream& out, std::ostream& err);

}  // namespace clipra
