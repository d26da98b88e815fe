// tessera-config - the saved configuration of either effect from the command line.
//
// Owns: the table of the command line (show, set, reset, --prefs-dir, --plugin, each declared
// once, read by commandline.h's conventions: a repeated option takes its last value) and
// its texts. The record, its
// defaults and the file are the plug-in's own (DataHandling, prefsloader): the same record,
// saved the same way (the whole record replaced in one write), so that the plug-in reads
// what this tool wrote and the other way round.
// Promises: a bad value is refused in one line with exit status 2 before anything is
// written; a file that is there but cannot be read is reported (exit status 1) and never
// written over, by any command; `show` writes nothing at all. --prefs-dir names the folder
// of the preferences file (the plug-in finds it through $XDG_CONFIG_HOME, which is set to
// that folder for this process). --plugin chooses the effect, Tessera (the default) or
// Tessera Motion, whose file, names and number of regions are the plug-in's own.
#include "DataHandling.h"
#include "Folders.h"
#include "PluginDefines.h"
#include "prefsloader.h"

#include "commandline.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A frame format's name in lower case, as the help spells it ("ntsc").
std::string Lower(const char* name) {
    std::string lower = name;
    for (char& c : lower) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

// The frame formats of cFrameFormats by name: "ntsc|pal|hd" or "ntsc, pal or hd".
std::string FormatNames(const char* between, const char* beforeLast) {
    std::vector<std::string> names;
    for (const frameFormatRec& format : cFrameFormats) {
        names.push_back(Lower(format.name));
    }
    return commandline::Listed(names, between, beforeLast);
}

// --format's help: each format with its frame size, wrapped to the width of the other
// options' texts.
std::string FormatHelp() {
    constexpr size_t kWidth = 62;
    std::string text, line = "the dialog's frame format:";
    for (size_t i = 0; i < std::size(cFrameFormats); ++i) {
        const frameFormatRec& f = cFrameFormats[i];
        const std::string item = Lower(f.name) + " (" + std::to_string(f.previewWidth) + "x" +
                                 std::to_string(f.previewHeight) + ")" +
                                 (i + 1 < std::size(cFrameFormats) ? "," : "");
        if (line.size() + 1 + item.size() > kWidth) {
            text += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + item;
    }
    return text + line;
}

struct Refused {
    std::string text;
    int status;
};

[[noreturn]] void Refuse(const std::string& text, int status = kExitUsage) {
    throw Refused{text, status};
}

// The effects this tool serves, by the names --plugin takes.
struct effectChoice {
    const char* name;
    const effectIdentityRec& identity;
};
const effectChoice kEffects[] = {
    {"tessera", cTesseraIdentity},
    {"motion", cTesseraMotionIdentity},
};

const effectIdentityRec& ChooseEffect(const std::string& name) {
    for (const effectChoice& e : kEffects) {
        if (name == e.name || name == e.identity.bundleID || name == e.identity.clearName) {
            return e.identity;
        }
    }
    throw CLI::ValidationError("wants tessera or motion, not '" + name + "'");
}

// Shortest text that reads back as the same double.
std::string Number(double v) {
    char text[32];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strtod(text, nullptr) == v) {
            break;
        }
    }
    return text;
}

// Where the effect's file is, as the plug-in finds it.
fs::path PrefsFile(const effectIdentityRec& effect) {
    std::string path;
    if (!GetPrefsFilePath(path, effect.prefsFileName)) {
        Refuse("no preferences folder can be found or made (see --prefs-dir)", kExitFailed);
    }
    return path;
}

// The configuration in the file, or the defaults when there is no file. A file that is there
// but gives no record is refused.
pluginDataRec Load(const effectIdentityRec& effect, const fs::path& file) {
    pluginDataRec config{};
    ResetConfig(&config, true);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file, ec))) {
        return config;
    }
    if (!ReadConfig(&config, effect.prefsFileName)) {
        Refuse(file.string() + " cannot be read as " + effect.clearName +
                   "'s preferences (damaged, or not its file); it is left as it is",
               kExitFailed);
    }
    return config;
}

void Save(const effectIdentityRec& effect, const pluginDataRec& config, const fs::path& file) {
    EnsurePrefsFile(effect.prefsFileName);
    if (!SaveConfig(&config, effect.prefsFileName)) {
        Refuse("the configuration could not be saved in " + file.string(), kExitFailed);
    }
}

nlohmann::ordered_json JsonRegion(const relRect& r) {
    return {{"left", r.left},
            {"top", r.top},
            {"width", r.right - r.left},
            {"height", r.bottom - r.top}};
}

std::string TextRegion(const relRect& r) {
    return "left " + Number(r.left) + ", top " + Number(r.top) + ", width " +
           Number(r.right - r.left) + ", height " + Number(r.bottom - r.top) +
           " (fractions of the frame)";
}

// On one line, keys in this order. Bytes of the file's path that are not UTF-8 are written
// as U+FFFD rather than refused.
void ShowJson(const effectIdentityRec& effect, const pluginDataRec& c, const fs::path& file) {
    nlohmann::ordered_json show = {{"effect", effect.clearName},
                                   {"region", JsonRegion(c.startRel)}};
    if (effect.usedNumberOfRects > 1) {
        show["endRegion"] = JsonRegion(c.endRel);
    }
    show["block"] = {{"width", c.sliders[0]}, {"height", c.sliders[1]}};
    show["opacity"] = c.sliders[2];
    show["format"] = GetFrameFormat(c.mediaType).name;
    show["keepProportions"] = c.keepProps ? true : false;
    show["file"] = file.string();
    std::printf(
        "%s\n",
        show.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

// Tessera's record holds an end region too, but nothing of Tessera uses it: it is shown,
// and set, for Tessera Motion only.
void Show(const effectIdentityRec& effect, const pluginDataRec& c, const fs::path& file,
          bool json) {
    const bool moving = effect.usedNumberOfRects > 1;
    if (json) {
        ShowJson(effect, c, file);
        return;
    }
    std::printf("effect:           %s\n", effect.clearName);
    if (moving) {
        std::printf("start region:     %s\n", TextRegion(c.startRel).c_str());
        std::printf("end region:       %s\n", TextRegion(c.endRel).c_str());
    } else {
        std::printf("region:           %s\n", TextRegion(c.startRel).c_str());
    }
    std::printf("block:            %d x %d thousandths of the frame\n", c.sliders[0], c.sliders[1]);
    std::printf("opacity:          %d %%\n", c.sliders[2]);
    std::printf("format:           %s\n", GetFrameFormat(c.mediaType).name);
    std::printf("keep proportions: %s\n", c.keepProps ? "yes" : "no");
    std::printf("file:             %s\n", file.string().c_str());
}

// A region given as L,T,W,H, as the record keeps it (left, right, top, bottom).
relRect Region(const std::string& text) {
    const auto v = commandline::Numbers(text, 4);
    if (v[2] <= 0 || v[3] <= 0) {
        throw CLI::ValidationError("the width and the height must be above 0");
    }
    return relRect{v[0], v[0] + v[2], v[1], v[1] + v[3]};
}

// Points the plug-in's storage at DIR for this process (it finds the file in the toolbox's
// Preferences folder).
void UsePrefsDir(const std::string& given) {
    if (given.empty()) {
        throw CLI::ValidationError("needs a folder");
    }
    if (!toolbox::folders::usePreferencesFolder(given)) {
        throw CLI::ValidationError("'" + given + "' is not a folder");
    }
}

int ShowCommand(const effectIdentityRec& effect, bool json) {
    const fs::path file = PrefsFile(effect);
    std::error_code ec;
    const bool saved = fs::exists(fs::symlink_status(file, ec));
    const pluginDataRec config = Load(effect, file);
    Show(effect, config, file, json);
    if (!saved && !json) {
        std::printf("(nothing saved yet: these are the defaults)\n");
    }
    return 0;
}

int ResetCommand(const effectIdentityRec& effect) {
    const fs::path file = PrefsFile(effect);
    (void)Load(effect, file); // a file that cannot be read is reported, not written over
    pluginDataRec config{};
    ResetConfig(&config, true);
    Save(effect, config, file);
    return 0;
}

// What `set` was asked to change; what is absent keeps its saved value.
struct Changes {
    std::optional<relRect> region, endRegion;
    std::optional<std::pair<SInt16, SInt16>> block;
    std::optional<SInt16> opacity, format;
    bool any() const { return region || endRegion || block || opacity || format; }
};

// The mediaType of the format named F, as the table spells it or in lower case.
SInt16 FormatCode(const std::string& f) {
    for (const frameFormatRec& format : cFrameFormats) {
        if (f == format.name || f == Lower(format.name)) {
            return format.mediaType;
        }
    }
    throw CLI::ValidationError("wants " + FormatNames(", ", " or ") + ", not '" + f + "'");
}

// Every value was checked as the command line was read, before the file is read or written.
int SetCommand(const effectIdentityRec& effect, const Changes& changes) {
    if (changes.endRegion && effect.usedNumberOfRects <= 1) {
        Refuse(std::string("--end-region: ") + effect.clearName +
               " has one region for the whole clip; the moving one is --plugin motion");
    }
    if (!changes.any()) {
        Refuse(std::string("set needs at least one of --region, ") +
               (effect.usedNumberOfRects > 1 ? "--end-region, " : "") +
               "--block, --opacity, --format");
    }
    const fs::path file = PrefsFile(effect);
    pluginDataRec config = Load(effect, file);
    if (changes.region) {
        config.startRel = *changes.region;
    }
    if (changes.endRegion) {
        config.endRel = *changes.endRegion;
    }
    if (changes.block) {
        config.sliders[0] = changes.block->first;
        config.sliders[1] = changes.block->second;
    }
    if (changes.opacity) {
        config.sliders[2] = *changes.opacity;
    }
    if (changes.format) {
        config.mediaType = *changes.format;
    }
    Save(effect, config, file);
    return 0;
}

// What the command line says: the effect, and the chosen command's options.
struct Line {
    const effectIdentityRec* effect = &cTesseraIdentity;
    bool json = false;
    Changes changes;
};

void DeclareSet(CLI::App& set, Changes& changes) {
    set.add_option("--region", "the region: left, top, width, height, fractions of the frame;\n"
                               "Tessera Motion's region on the clip's first frame")
        ->type_name("L,T,W,H")
        ->each([&changes](const std::string& v) { changes.region = Region(v); });
    set.add_option("--end-region", "Tessera Motion only: its region on the clip's last frame (in\n"
                                   "between, the region moves evenly from one to the other)")
        ->type_name("L,T,W,H")
        ->each([&changes](const std::string& v) { changes.endRegion = Region(v); });
    set.add_option("--block", "block width and height, thousandths of the frame's (0 to 250)")
        ->type_name("W,H")
        ->each([&changes](const std::string& v) {
            const auto [w, h] = commandline::Block(v, 0);
            changes.block = {SInt16(w), SInt16(h)};
        });
    set.add_option("--opacity", "the original laid back over the mosaic, percent (0 to 100)")
        ->type_name("P")
        ->each([&changes](const std::string& v) {
            changes.opacity = SInt16(commandline::Whole(v, 0, 100));
        });
    set.add_option("--format", CLI::callback_t(), FormatHelp())
        ->type_name(FormatNames("|", "|"))
        ->each([&changes](const std::string& v) { changes.format = FormatCode(v); });
}

// The table of the commands and their options; what is given lands in LINE.
void Declare(CLI::App& app, Line& line) {
    commandline::Prepare(app);
    app.set_help_flag(); // --help shows every command's options
    app.set_help_all_flag("-h,--help", "show this help");
    app.fallthrough(); // the program's own options may follow the command
    const std::string show = "[--json]", set = "[--region L,T,W,H] [--end-region L,T,W,H] "
                                               "[--block W,H] [--opacity P] [--format " +
                                               FormatNames("|", "|") + "]";
    commandline::Usage(app, {"[OPTIONS] show " + show, "[OPTIONS] set " + set, "[OPTIONS] reset"});
    const std::string group = "Options (also after the command)";
    app.add_option("--plugin", "the effect: tessera (the default) or motion (Tessera Motion,\n"
                               "com.kelmar.vidkit.tesseramotion); each has its own file")
        ->type_name("E")
        ->group(group)
        ->each([&line](const std::string& v) { line.effect = &ChooseEffect(v); });
    app.add_option("--prefs-dir", "the folder of the preferences file (default: "
                                  "$XDG_CONFIG_HOME,\nelse ~/.config)")
        ->type_name("DIR")
        ->group(group)
        ->each(UsePrefsDir);
    CLI::App* showCmd = app.add_subcommand("show", "print the saved configuration (without a "
                                                   "file: the defaults)");
    commandline::Usage(*showCmd, {show});
    showCmd->add_flag("--json", line.json, "as one line of JSON");
    CLI::App* setCmd = app.add_subcommand("set", "change what is given; the rest keeps its saved "
                                                 "value");
    commandline::Usage(*setCmd, {set});
    DeclareSet(*setCmd, line.changes);
    commandline::Usage(*app.add_subcommand("reset", "save the defaults"), {""});
    app.require_subcommand(1);
}

int Run(const CLI::App& app, const Line& line) {
    if (app.got_subcommand("show")) {
        return ShowCommand(*line.effect, line.json);
    }
    if (app.got_subcommand("reset")) {
        return ResetCommand(*line.effect);
    }
    return SetCommand(*line.effect, line.changes);
}

} // namespace

int main(int argc, char** argv) {
    try {
        CLI::App app("The saved configuration of the Tessera effects, which the plug-in reads "
                     "at start-up.",
                     "tessera-config");
        Line line;
        Declare(app, line);
        if (const auto status = commandline::Parse(app, {argv + 1, argv + argc})) {
            return *status;
        }
        return Run(app, line);
    } catch (const Refused& r) {
        std::fprintf(stderr, "tessera-config: %s\n", r.text.c_str());
        return r.status;
    }
}
