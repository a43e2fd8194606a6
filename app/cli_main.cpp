// clipra-cli: one extraction job, unattended, from the command line.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/core/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return clipra::RunCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
