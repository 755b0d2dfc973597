// Files the library keeps for the user: opened so that nobody else's file or link
// is ever followed or written through, and replaced only once complete.
#pragma once

#include <cstdio>
#include <string>

namespace qrx::platform {

// Opens path with an fopen mode ("rb", "rb+", "wb"). On POSIX the file must be a
// regular file owned by the user, and a symbolic link at path is refused, never
// followed; "wb" creates the file private to the user. nullptr on refusal/failure.
std::FILE* open_private_file(const std::string& path, const char* mode);

// Creates a new file private to the user, named path_prefix followed by a suffix
// unique to this call, and opens it for writing ("wb"). Nothing existing is ever
// opened or replaced. The name goes to created_path; nullptr on failure.
std::FILE* create_private_file(const std::string& path_prefix, std::string& created_path);

// Moves from over to (replacing to) in one step; false on failure.
bool replace_file(const std::string& from, const std::string& to);

// Makes the written data of an open file durable before it replaces another.
bool flush_file(std::FILE* file);

// Tests: while on, the disk counts as full. Every flush_file fails with ENOSPC and
// drops what the stream still held (POSIX), so nothing written since the previous
// flush reaches the file, as when the file system has no room left for it.
void simulate_full_disk(bool on);

}  // namespace qrx::platform
