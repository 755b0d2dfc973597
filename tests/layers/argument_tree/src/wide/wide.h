// Declarations for the argument check to judge: one takes too many arguments, the
// others do not, however their lists are spelled.
#pragma once

#include <cstdint>
#include <map>

#define SPREAD(a, b, c, d, e, f) ((a) + (b) + (c) + (d) + (e) + (f))

// Too many: six plain arguments.
uint32_t spread(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f);

// Five, with commas inside template arguments, a function pointer, a default
// value in braces, and a comment (a, b, c, d, e, f) in between.
bool fits(const std::map<int, int>& table, void (*done)(int, int, int, int, int, int),
          std::pair<int, int> range = {1, 2}, /* x, y, z */ const char* name = "a, b, c, d",
          int last = 0);

// No arguments at all.
void nothing();
void none(void);
