// analysiscommands.h - the command line of the analysis commands (track, detect).
//
// Owns: reading the options of the commands that analyse a clip's pictures, their help, and
// what they print when done. Promises: in a build without the analysis module the commands
// still exist, say so in one line and end with the status of a command that cannot run here.
#pragma once

#include "args.h"

namespace fxhost::cli {

extern const char* const kTrackHelp;
int Track(Args& args);
extern const char* const kDetectHelp;
int Detect(Args& args);

} // namespace fxhost::cli
