#pragma once
// The command-line tool, callable in-process: main() is a thin wrapper around RunCli.

#include <ostream>

namespace kv {

// Parses the arguments (argv[0] is the program name), applies the library settings
// given as options and runs the subcommand. Returns 0 when every file succeeded, 1 when
// any failed, 2 for a usage error. Settings given on the command line stay in the
// library globals afterwards, as they would for the rest of a process.
int RunCli(int argc, const char* const* argv, std::ostream& Out, std::ostream& Err);

}  // namespace kv
