// Arguments for the parsers as a program receives them: argv[0] the program name,
// in writable strings (getopt_long may reorder them).
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace qrx::test {

class Argv {
 public:
  Argv(std::initializer_list<const char*> arguments) {
    strings_.push_back("program");
    for (const char* argument : arguments) strings_.push_back(argument);
    for (std::string& s : strings_) pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
  }
  Argv(const Argv&) = delete;
  Argv& operator=(const Argv&) = delete;
  int argc() const { return static_cast<int>(strings_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};

}  // namespace qrx::test
