// make_seeds - writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ from
// the toolbox's own writers and the plug-in's own start-up, so that every seed is a file
// the system really makes. Run once when the formats change: make_seeds <corpus folder>.
#include "AppleSingle.h"
#include "DataHandling.h"
#include "MacMemory.h"
#include "PlugInCore.h"
#include "Resources.h"
#include "prefsloader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using toolbox::rsrc::Resource;
using toolbox::rsrc::ResourceMap;

namespace {

constexpr ResType kStrList = 0x53545223; // 'STR#'

std::vector<UInt8> StrList(const std::vector<std::string>& texts) {
    std::vector<UInt8> out = {UInt8(texts.size() >> 8), UInt8(texts.size())};
    for (const auto& t : texts) {
        out.push_back(UInt8(t.size()));
        out.insert(out.end(), t.begin(), t.end());
    }
    return out;
}

std::vector<UInt8> Serialize(const ResourceMap& map) {
    std::vector<UInt8> out;
    if (map.serialize(out) != noErr) {
        std::fprintf(stderr, "cannot serialize a seed map\n");
        std::exit(1);
    }
    return out;
}

void Write(const fs::path& path, const std::vector<UInt8>& bytes, int prefix = -1) {
    fs::create_directories(path.parent_path());
    std::ofstream f(path, std::ios::binary);
    if (prefix >= 0) {
        f.put(char(prefix));
    }
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<UInt8> Read(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    const fs::path corpus = argv[1];

    ResourceMap bundle;
    bundle.resources.push_back(
        {kStrList, 128, "Slider labels", 0, StrList({"Block width", "Block height", "Opacity"})});
    bundle.resources.push_back(
        {kStrList, 129, "Slider end labels", 0,
         StrList({"Fine", "Coarse", "Fine", "Coarse", "Mosaic", "Original"})});
    bundle.resources.push_back({kStrList, 130, std::nullopt, 0, StrList({"Region\xC9"})});
    bundle.resources.push_back({kStrList, 17000, "Group", resPurgeable, StrList({"Tessera"})});
    const auto bundleBytes = Serialize(bundle);

    // The preferences file exactly as the plug-in's first start-up writes it.
    const fs::path home = fs::temp_directory_path() / "tessera-make-seeds";
    fs::remove_all(home);
    fs::create_directories(home);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    auto* config = reinterpret_cast<pluginDataRec*>(NewPtrClear(sizeof(pluginDataRec)));
    InitMyPlugIn(config);
    config->startRel = {0.1, 0.9, 0.2, 0.8};
    config->sliders[0] = 40;
    config->sliders[1] = 25;
    config->sliders[2] = 30;
    SaveConfig(config);
    const auto prefsBytes = Read(home / cPrefsFileName);
    Handle record = NewHandleClear(Size(cConfigSaveSize));
    Config2Save(config, record);
    const std::vector<UInt8> recordBytes(*record, *record + cConfigSaveSize);
    DisposeHandle(record);
    DisposePtr(Ptr(config));
    fs::remove_all(home);

    toolbox::applesingle::File prefsFile;
    if (toolbox::applesingle::parse(prefsBytes, prefsFile) != noErr) {
        std::fprintf(stderr, "the plug-in wrote a preferences file that does not parse\n");
        return 1;
    }
    const auto prefsFork = prefsFile.find(toolbox::applesingle::kResourceFork)->bytes;

    Write(corpus / "fuzz_resource_file" / "bundle-strings", bundleBytes);
    Write(corpus / "fuzz_resource_file" / "prefs-fork", prefsFork);
    Write(corpus / "fuzz_resource_file" / "empty-map", Serialize(ResourceMap{}));

    toolbox::applesingle::File several;
    several.set(toolbox::applesingle::kRealName, {'N', 'a', 'm', 'e'});
    several.set(toolbox::applesingle::kDataFork, {1, 2, 3, 4, 5});
    several.setTypeAndCreator(0x54455854, 0x74747874);
    several.set(toolbox::applesingle::kResourceFork, bundleBytes);
    Write(corpus / "fuzz_applesingle" / "prefs-file", prefsBytes);
    Write(corpus / "fuzz_applesingle" / "several-entries",
          toolbox::applesingle::serialize(several));

    Write(corpus / "fuzz_getindstring" / "bundle-file", bundleBytes, 0);
    Write(corpus / "fuzz_getindstring" / "one-list", StrList({"Fine", "Coarse", "", "Mosaic"}), 1);
    Write(corpus / "fuzz_getindstring" / "long-text", StrList({std::string(255, 'x'), "y"}), 1);

    Write(corpus / "fuzz_readconfig" / "prefs-file", prefsBytes, 0);
    Write(corpus / "fuzz_readconfig" / "record", recordBytes, 1);
    Write(corpus / "fuzz_readconfig" / "fields",
          std::vector<UInt8>(recordBytes.begin() + 8, recordBytes.end()), 2);
    return 0;
}
