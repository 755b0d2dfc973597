// ChildProcess: starts a program for multi-process tests, with its standard
// input and output on pipes, and waits for or kills it. A child still running
// when the object goes away is killed, so a failing test leaves nothing behind.
// A child started as a group of its own (a server that forks a process for each
// client, as saned does) is killed with every process it started.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qrx::test {

class ChildProcess {
 public:
  enum class Group { kTests, kOwn };
  explicit ChildProcess(const std::vector<std::string>& argv, Group group = Group::kTests);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Reads one line of the child's output (without the newline); false on end of
  // output or when timeout_ms passes first.
  bool read_line(std::string& line, int timeout_ms);
  // Writes line and a newline to the child's standard input; false when it
  // could not (the input closed, the child gone).
  bool write_line(const std::string& line);
  // Closes the child's standard input.
  void close_input();
  // Waits up to timeout_ms for the child to end; its exit status (0..255), 128 +
  // signal when killed, or -1 when it is still running.
  int wait(int timeout_ms);
  // Sends signal to the child (and, for a group of its own, to every process of
  // the group, also after the child itself has ended).
  void kill_now(int signal);

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string pending_;
  int status_ = -1;
  bool own_group_ = false;
};

}  // namespace qrx::test
