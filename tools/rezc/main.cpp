// rezc - compiles a resource source file (.r) into a resource file (.rsrc).
//
//   rezc INPUT.r -o OUTPUT.rsrc     compile
//   rezc --list FILE.rsrc           list the resources of a resource file
//
// Errors go to standard error in one line each with the source position, and the exit
// status is 1; the output file is replaced atomically, so a failed run leaves no partial
// file under its name.
#include "RezCompiler.h"

#include "Files.h"
#include "TextUtils.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: rezc INPUT.r -o OUTPUT.rsrc\n"
                         "       rezc --list FILE.rsrc\n");
    return 2;
}

std::string typeText(ResType t) {
    std::string mac;
    for (int s = 24; s >= 0; s -= 8)
        mac += char(UInt8(t >> s));
    return toolbox::text::macRomanToUtf8(mac).value_or("????");
}

int list(const char* path) {
    std::string bytes;
    if (OSErr e = toolbox::files::readWholeFile(path, bytes)) {
        std::fprintf(stderr, "rezc: cannot read %s (error %d)\n", path, e);
        return 1;
    }
    toolbox::rsrc::ResourceMap map;
    if (toolbox::rsrc::ResourceMap::parse(
            std::span<const UInt8>(reinterpret_cast<const UInt8*>(bytes.data()), bytes.size()),
            map) != noErr) {
        std::fprintf(stderr, "rezc: %s is not a valid resource file\n", path);
        return 1;
    }
    for (const auto& r : map.resources) {
        std::string name = r.name ? toolbox::text::macRomanToUtf8(*r.name).value_or("?") : "";
        std::printf("'%s' %6d %6zu bytes%s%s%s\n", typeText(r.type).c_str(), r.id, r.data.size(),
                    r.name ? " \"" : "", name.c_str(), r.name ? "\"" : "");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--list") == 0)
        return list(argv[2]);
    const char* input = nullptr;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            output = argv[++i];
        else if (argv[i][0] == '-' || input)
            return usage();
        else
            input = argv[i];
    }
    if (!input || !output)
        return usage();

    std::string source;
    if (OSErr e = toolbox::files::readWholeFile(input, source)) {
        std::fprintf(stderr, "rezc: cannot read %s (error %d)\n", input, e);
        return 1;
    }
    rezc::Result r = rezc::compile(source, input);
    if (!r.ok) {
        std::fprintf(stderr, "%s\n", r.error.c_str());
        return 1;
    }
    std::vector<UInt8> bytes;
    if (r.map.serialize(bytes) != noErr) {
        std::fprintf(stderr, "rezc: %s: the resources do not fit in a resource file\n", input);
        return 1;
    }
    if (OSErr e = toolbox::files::replaceFileAtomically(output, bytes.data(), bytes.size(), 0644)) {
        std::fprintf(stderr, "rezc: cannot write %s (error %d)\n", output, e);
        return 1;
    }
    return 0;
}
