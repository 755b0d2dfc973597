// SANE's own programs (scanimage, saned) run on the backend of the build tree, as
// a user runs them: each test has a configuration directory of its own holding a
// dll.conf that names only qrx7730 (and net where a test shares), its own
// qrx7730.conf, temporary directory, device names, daemon socket and address.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tools/program_runner.h"

namespace qrx::test {

inline constexpr int kProgramWaitMs = 120000;

class SaneProgramTest : public ::testing::Test {
 protected:
  SaneProgramTest() {
    config_ = dir.path() + "/sane.d";
    write(config_ + "/dll.conf", "# only the backend under test\nqrx7730\n");
    write(config_ + "/qrx7730.conf", "");
  }

  static void write(const std::string& path, const std::string& text) {
    const std::string parent = path.substr(0, path.rfind('/'));
    std::string command = "mkdir -p '" + parent + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ofstream(path) << text;
  }
  // The environment of a SANE program on this test's configuration directory.
  std::vector<std::string> environment(const std::string& config_dir) const {
    std::vector<std::string> env = {"SANE_CONFIG_DIR=" + config_dir,
                                    "LD_LIBRARY_PATH=" + std::string(QRX_SANE_BACKEND_DIR),
                                    "TMPDIR=" + dir.path(), "HOME=" + dir.path()};
    if (sanitized()) {
      env.push_back("QRX_SANE_PRELOAD=" + std::string(QRX_SANITIZER_RUNTIME));
      env.push_back("ASAN_OPTIONS=detect_leaks=0");  // the programs' own, not the backend's
    }
    return env;
  }
  static bool sanitized() { return std::string(QRX_SANITIZER_RUNTIME).size() > 0; }
  // The command that runs program: a sanitizer build's backend needs the
  // sanitizer's runtime loaded first in the program, and in the program alone
  // (the shell that starts it may not run with it).
  static std::vector<std::string> launch(const std::string& program) {
    if (!sanitized()) return {program};
    return {"/bin/sh", "-c", "export LD_PRELOAD=\"$QRX_SANE_PRELOAD\"; exec \"$0\" \"$@\"",
            program};
  }
  ProgramRun scanimage(std::vector<std::string> arguments, std::vector<std::string> extra = {},
                       const std::string& config_dir = "") {
    const std::vector<std::string> program = launch(QRX_SCANIMAGE);
    arguments.insert(arguments.begin(), program.begin(), program.end());
    std::vector<std::string> env = environment(config_dir.empty() ? config_ : config_dir);
    env.insert(env.end(), extra.begin(), extra.end());
    return run_program(arguments, env, dir.path() + "/scanimage.err", kProgramWaitMs);
  }
  // scanimage started with the arguments, its standard output on a pipe, its
  // error output into error_file.
  std::unique_ptr<ChildProcess> start_scanimage(const std::vector<std::string>& arguments,
                                                const std::string& error_file) {
    std::vector<std::string> command = {"/usr/bin/env", "QRX_ERROR_FILE=" + error_file};
    for (const std::string& v : environment(config_)) command.push_back(v);
    command.insert(command.end(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>\"$QRX_ERROR_FILE\""});
    const std::vector<std::string> program = launch(QRX_SCANIMAGE);
    command.insert(command.end(), program.begin(), program.end());
    command.insert(command.end(), arguments.begin(), arguments.end());
    return std::make_unique<ChildProcess>(command);
  }
  static std::string file_text(const std::string& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), {});
  }
  // A device name of this test's own (an emulated scanner in the program's process).
  std::string own_device(const std::string& tag = "") const {
    return "sim:#" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
           tag + "-" + std::to_string(getpid());
  }
  // A qrx7730-sim daemon on a socket of this test, extra its options, its error
  // output into log_file when one is named; the socket path.
  std::string start_daemon(std::vector<std::string> extra = {}, const std::string& speed = "20",
                           const std::string& log_file = "") {
    const std::string socket = dir.path() + "/scanner.sock";
    std::vector<std::string> argv = {QRX_SIM_DAEMON, "--socket", socket, "--speed", speed};
    if (!log_file.empty()) {
      argv.insert(argv.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>\"" + log_file + "\""});
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    daemon_ = std::make_unique<ChildProcess>(argv);
    std::string line;
    EXPECT_TRUE(daemon_->read_line(line, kProgramWaitMs));
    EXPECT_EQ(line, "qrx7730-sim: serving on " + socket);
    return socket;
  }

  ScopedTempDir dir;
  std::string config_;
  std::unique_ptr<ChildProcess> daemon_;
};

}  // namespace qrx::test
