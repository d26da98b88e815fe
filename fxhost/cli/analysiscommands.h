// analysiscommands.h - the command line of the analysis commands (track, detect).
//
// Owns: the tables of options of the commands that analyse a clip's pictures, their help,
// and what they print when done. Promises: in a build without the analysis module the
// commands still exist, take any arguments, say so in one line and end with the status of
// a command that cannot run here.
#pragma once

#include "args.h"

namespace fxhost::cli {

// Each declares its command on FXHOST (fxhost's CLI::App).
Command DeclareTrack(CLI::App& fxhost);
Command DeclareDetect(CLI::App& fxhost);

} // namespace fxhost::cli
