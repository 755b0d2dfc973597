// The groups of checks of the TWAIN data source test (twain_session_test.cpp).
#pragma once

#include <string>

namespace qrx::wintest {

void check_state_machine(const std::string& ds);   // twain_state_checks.cpp
void check_capabilities(const std::string& ds);    // twain_state_checks.cpp
void check_sessions(const std::string& ds);        // twain_session_checks.cpp
void check_cancel(const std::string& ds);          // twain_session_checks.cpp
void check_second_application(const std::string& ds);  // twain_session_checks.cpp
// The child process of check_second_application.
int hold_scanner(const std::string& ds, const std::string& role);
// A native transfer of A4 at 300 dpi in colour, saved as a BMP file (bench/).
int bench_native(const std::string& ds, const std::string& file);
void check_dialog(const std::string& ds, const std::string& shot);  // twain_dialog_check.cpp

}  // namespace qrx::wintest
