#pragma once

#include <string>
#include <string_view>

namespace reflector {

// Output files that a long run can count on, and that cannot be turned against
// their user.
//
// A regular file (or a new one) is replaced atomically: the text goes to a
// temporary file in the same folder, unnamed while it is written where the
// filesystem allows (else created exclusively, without following links), and
// is renamed over the target only once it is complete, so that not even a
// SIGKILL mid-write leaves a partial file behind. A replaced
// file keeps its permission bits (never widened). Anything else that already
// exists and is not a directory (a pipe, a terminal, /dev/null) is written in
// place. "-" is standard output. Every error reads "PATH: cannot write: CAUSE",
// the cause being the failing call's strerror.

// Before a run: fails when the final write could never succeed (a directory, a
// missing or read-only folder, a file that cannot be replaced).
bool CheckOutputWritable(const std::string& path, std::string& error);

// The folder a path names a file in ("." for a bare name).
std::string DirectoryOf(const std::string& path);

// directory/name, with one slash between them.
std::string JoinPath(const std::string& directory, const std::string& name);

// Makes the folder for a set of outputs if it is not there: the last level
// only, so a missing parent is an error ("DIR: cannot create: CAUSE"), as is
// a file of that name.
bool MakeOutputDirectory(const std::string& directory, std::string& error);

// Writes all of text to fd, across short writes and EINTR; on failure, false
// with the failing call's errno in error.
bool WriteAll(int fd, std::string_view text, int& error);

// Writes text to path as above. On failure the old file is left intact and no
// temporary file remains.
bool WriteOutputFile(const std::string& path, std::string_view text, std::string& error);

}  // namespace reflector
