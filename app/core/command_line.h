// The command line shared by the window and clipra-cli: file names, "A"
// with the four corners, "F" for an unattended run.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace clipra {

struct CommandLineOption {
  char letter = 0;   // upper case
  std::string rest;  // what follows the letter
  std::string text;  // the parameter as typed
};

struct CommandLine {
  std::string in_file;
  std::string out_name;
  std::vector<std::string> extra_files;  // file names beyond the second
  bool has_area = false;
  double top_left_x = 0;
  double top_left_y = 0;
  double bot_right_x = 0;
  double bot_right_y = 0;
  bool auto_run = false;
  std::vector<CommandLineOption> options;  // every option, in order, A and F included
};

// True when `param` is an option: it starts with "-", or with "/" when it
// holds no further "/" and names no existing file.
bool IsOptionParameter(const std::string& param,
                       const std::function<bool(const std::string&)>& exists);

// Parses the parameters (without the program name).
CommandLine ParseCommandLine(const std::vector<std::string>& params,
                             const std::function<bool(const std::string&)>& exists);

// The first four non-empty fields of `text` split at ":", each read
// tolerantly; missing or malformed fields give 0.
std::vector<double> SplitNumbers(const std::string& text, size_t count);

}  // namespace clipra
