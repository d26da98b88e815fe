// resultnames.cpp - result code names.
#include "resultnames.h"

namespace fxhost {

const char* ResultName(SInt32 code) {
    static const char* const names[] = {"kPluginOK",
                                        "kPluginCancel",
                                        "kPluginFinished",
                                        "kPluginBadParams",
                                        "kPluginOutOfMemory",
                                        "kPluginOutOfDiskSpace",
                                        "kPluginFailed",
                                        "kPluginCantGetNeededFrame",
                                        "kPluginUnimplemented",
                                        "kPluginTryAgainLater",
                                        "kPluginAppIsTooOld",
                                        "kPluginAppIsTooNew"};
    return code >= 0 && code <= 11 ? names[code] : "unknown result";
}

std::string DescribeResult(SInt32 code) {
    return std::string(ResultName(code)) + " (" + std::to_string(code) + ")";
}

} // namespace fxhost
