// robustness_load - resource use under load: renders a long clip through the Tessera bundle
// with fxhost's host session (generated frames, no files) and prints the process's peak
// and current memory after the first checkpoint and at the end, and what the toolbox still
// holds once the clip has ended. Built with the sanitizers, LeakSanitizer reports any byte
// left unfreed at exit.
//   robustness_load [FRAMES [WIDTH HEIGHT [CHECKPOINT]]]   (default 10000 1280 720 1000)
// Exit status 0 when the clip rendered and the toolbox holds after it exactly what it held
// before it (no frame, image, context, handle or block left over per clip); 1 otherwise.
#include "ToolboxTesting.h"
#include "framesource.h"
#include "hostsession.h"
#include "pluginbundle.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

long StatusKB(const char* field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::string(field).size() + 1);
        }
    }
    return -1;
}

void Report(int frames) {
    std::printf("frames=%d peak_kB=%ld rss_kB=%ld\n", frames, StatusKB("VmHWM"), StatusKB("VmRSS"));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int width = argc > 3 ? std::atoi(argv[2]) : 1280;
    const int height = argc > 3 ? std::atoi(argv[3]) : 720;
    const int checkpoint = argc > 4 ? std::atoi(argv[4]) : 1000;

    std::string home = (std::filesystem::temp_directory_path() / "tessera-load-XXXXXX").string();
    if (mkdtemp(home.data()) == nullptr) {
        return 1;
    }
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    bool ok = true;
    {
        fxhost::PluginBundle bundle(TESSERA_BUNDLE);
        fxhost::GeneratedFrameSource source(width, height, frames);
        fxhost::HostSession session(bundle, source);
        session.setFrameSize(width, height);
        ok = session.getInfo(frames) == 0;
        // What the host and the started plug-in hold before the clip: the destination frame,
        // the master record, the bundle's open string lists. The clip must leave exactly that.
        const auto before = toolbox::testing::GetLiveCounts();
        ok = ok && session.begin(0, frames) == 0;
        for (int i = 0; ok && i < frames; ++i) {
            ok = session.frame(i) == 0;
            if (i + 1 == checkpoint) {
                Report(i + 1);
            }
        }
        ok = ok && session.end() == 0;
        Report(frames);
        const auto live = toolbox::testing::GetLiveCounts();
        std::printf("held before -> after the clip: gworlds %ld -> %ld, images %ld -> %ld, "
                    "contexts %ld -> %ld, providers %ld -> %ld, handles %ld -> %ld, "
                    "blocks %ld -> %ld\n",
                    before.gworlds, live.gworlds, before.images, live.images, before.contexts,
                    live.contexts, before.providers, live.providers, before.handles, live.handles,
                    before.ptrs, live.ptrs);
        ok = ok && live.gworlds == before.gworlds && live.images == before.images &&
             live.contexts == before.contexts && live.providers == before.providers &&
             live.handles == before.handles && live.ptrs == before.ptrs;
    }
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    std::printf("%s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
