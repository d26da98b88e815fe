// resultnames.h - the names of the plug-in interface's result codes, for messages.
#pragma once

#include "HYPlugin.h"

#include <string>

namespace fxhost {

// "kPluginFailed" for 6; "unknown result" for codes the interface does not name.
const char* ResultName(SInt32 code);
// "kPluginFailed (6)".
std::string DescribeResult(SInt32 code);

} // namespace fxhost
