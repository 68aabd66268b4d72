// SPDX-License-Identifier: MIT
#pragma once

namespace lumarex_cli {

// Each subcommand takes the arguments after its name (argv[first..]) and
// returns the process exit status: 0 success, 1 some file failed, 2 a usage
// error, 130 stopped by Ctrl-C.
int RunAuto(int argc, char** argv, int first);
int RunCorrect(int argc, char** argv, int first);
int RunAnalyse(int argc, char** argv, int first);

}  // namespace lumarex_cli
