// RezCompiler.h - the resource compiler: a small text format into a resource map.
//
// The format, one resource per statement:
//
//   // a comment to the end of the line; /* ... */ comments too
//   resource 'STR#' (128, "Slider labels") {
//       "Block width";
//       "Block height";
//   };
//   resource 'TEXT' (200, purgeable) { "Some text" $"0D" "more" };
//
// The header is the four-character type in single quotes, then in parentheses the ID
// (-32768 to 32767), an optional name in double quotes and optional attributes (sysheap,
// purgeable, locked, protected, preload). Texts are UTF-8 in the source and stored in Mac
// Roman; escapes \" \\ \n \r \t and \xHH are known. 'STR#' lists hold texts separated by
// ';' or ',' and become a big-endian count followed by Pascal strings; 'STR ' holds one
// Pascal string; any other type is the concatenation of its texts and $"hex" blocks.
// Errors name the line and column: "file:3:17: error: ...". Compilation stops at the
// first error, so that no partial resource file is ever written.
#pragma once

#include "Resources.h"

#include <string>

namespace rezc {

struct Result {
    bool ok = false;
    std::string error; // "name:line:col: error: message" when !ok
    toolbox::rsrc::ResourceMap map;
};

// Compiles source text; sourceName is used in error messages.
Result compile(const std::string& source, const std::string& sourceName);

} // namespace rezc
