// Runs a program to its end for the program tests: its exit status, standard
// output and error output apart, with extra environment variables.
#pragma once

#include <string>
#include <vector>

#include "support/child_process.h"

namespace qrx::test {

struct ProgramRun {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // error output
};

// Runs argv (argv[0] a path) with the variables NAME=VALUE in environment added,
// its error output into the file error_file (which it leaves behind).
inline ProgramRun run_program(const std::vector<std::string>& argv,
                              const std::vector<std::string>& environment,
                              const std::string& error_file, int timeout_ms = 120000) {
  std::vector<std::string> command{"/usr/bin/env"};
  command.insert(command.end(), environment.begin(), environment.end());
  command.insert(command.end(),
                 {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>\"$QRX_ERROR_FILE\"", argv[0]});
  command.insert(command.end(), argv.begin() + 1, argv.end());
  command.insert(command.begin() + 1, "QRX_ERROR_FILE=" + error_file);
  ChildProcess child(command);
  ProgramRun run;
  std::string line;
  while (child.read_line(line, timeout_ms)) run.out += line + "\n";
  run.status = child.wait(timeout_ms);
  if (std::FILE* file = std::fopen(error_file.c_str(), "r")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) run.err.append(buffer, got);
    std::fclose(file);
  }
  return run;
}

}  // namespace qrx::test
