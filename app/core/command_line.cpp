#include "app/core/command_line.h"

#include <cctype>

#include "dataset/utils.h"

namespace clipra {

bool IsOptionParameter(const std::string& param,
                       const std::function<bool(const std::string&)>& exists) {
  if (param.empty()) return false;
  if (param[0] == '-') return true;
  if (param[0] != '/') return false;
  // An absolute path is a file name, not an option.
  if (param.find('/', 1) != std::string::npos) return false;
  return !(exists && exists(param));
}

std::vector<double> SplitNumbers(const std::string& text, size_t count) {
  std::vector<double> values(count, 0.0);
  size_t found = 0;
  size_t start = 0;
  while (found < count && start <= text.size()) {
    size_t end = text.find(':', start);
    if (end == std::string::npos) end = text.size();
    const std::string field = text.substr(start, end - start);
    if (!field.empty()) values[found++] = static_cast<double>(ParseFloatDef(field, 0));
    start = end + 1;
  }
  return values;
}

CommandLine ParseCommandLine(const std::vector<std::string>& params,
                             const std::function<bool(const std::string&)>& exists) {
  CommandLine cl;
  int names = 0;
  for (const std::string& p : params) {
    if (!IsOptionParameter(p, exists)) {
      if (names == 0)
        cl.in_file = p;
      else if (names == 1)
        cl.out_name = p;
      else
        cl.extra_files.push_back(p);
      ++names;
      continue;
    }
    if (p.size() < 2) continue;
    CommandLineOption opt;
    opt.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(p[1])));
    opt.rest = p.substr(2);
    opt.text = p;
    cl.options.push_back(opt);
    if (opt.letter == 'A') {
      const std::vector<double> v = SplitNumbers(opt.rest, 4);
      cl.has_area = true;
      cl.top_left_x = v[0];
      cl.top_left_y = v[1];
      cl.bot_right_x = v[2];
      cl.bot_right_y = v[3];
    } else if (opt.letter == 'F') {
      cl.auto_run = true;
    }
  }
  return cl;
}

}  // namespace clipra
