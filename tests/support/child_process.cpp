// ChildProcess (see child_process.h).
#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace qrx::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, Group group)
    : own_group_(group == Group::kOwn) {
  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) return;
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    close(in_pipe[0]);
    close(in_pipe[1]);
    return;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    if (own_group_) setpgid(0, 0);
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    execv(args[0], args.data());
    _exit(127);
  }
  // Set from both sides, so that the group exists whichever runs first.
  if (own_group_ && pid_ > 0) setpgid(pid_, pid_);
  close(in_pipe[0]);
  close(out_pipe[1]);
  in_ = in_pipe[1];
  out_ = out_pipe[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && status_ < 0) {
    kill_now(SIGKILL);
    wait(5000);
  }
  if (own_group_ && pid_ > 0) kill(-pid_, SIGKILL);  // what the group still holds
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
}

bool ChildProcess::read_line(std::string& line, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[256];
    ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool ChildProcess::write_line(const std::string& line) {
  if (in_ < 0) return false;
  // A child that has gone must fail the write, not end this process: SIGPIPE is
  // held back for the write and a pending one taken away again.
  sigset_t pipe_signal, old_mask;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask);
  const std::string text = line + "\n";
  size_t done = 0;
  bool written = true;
  while (done < text.size()) {
    const ssize_t n = write(in_, text.data() + done, text.size() - done);
    if (n <= 0) {
      written = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  const timespec no_wait{0, 0};
  while (sigtimedwait(&pipe_signal, nullptr, &no_wait) == SIGPIPE) {
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return written;
}

void ChildProcess::close_input() {
  if (in_ >= 0) {
    close(in_);
    in_ = -1;
  }
}

int ChildProcess::wait(int timeout_ms) {
  if (status_ >= 0) return status_;
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int raw = 0;
    pid_t r = waitpid(pid_, &raw, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::kill_now(int signal) {
  if (pid_ <= 0) return;
  if (own_group_) {
    kill(-pid_, signal);
  } else if (status_ < 0) {
    kill(pid_, signal);
  }
}

}  // namespace qrx::test
