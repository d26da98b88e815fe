// tessera-config - the saved configuration of either effect from the command line.
//
// Owns: the command line (show, set, reset, --prefs-dir, --plugin) and its texts. The record, its
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

#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
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
    std::string names;
    for (size_t i = 0; i < std::size(cFrameFormats); ++i) {
        if (i > 0) {
            names += i + 1 < std::size(cFrameFormats) ? between : beforeLast;
        }
        names += Lower(cFrameFormats[i].name);
    }
    return names;
}

// The help's lines on --format: each format with its frame size, wrapped at the width of the
// help's widest line and indented as the other options' texts are.
std::string FormatHelp() {
    constexpr size_t kWidth = 86;
    std::string text, line = "  --format F            the dialog's frame format:";
    for (size_t i = 0; i < std::size(cFrameFormats); ++i) {
        const frameFormatRec& f = cFrameFormats[i];
        const std::string item = Lower(f.name) + " (" + std::to_string(f.previewWidth) + "x" +
                                 std::to_string(f.previewHeight) + ")" +
                                 (i + 1 < std::size(cFrameFormats) ? "," : "");
        if (line.size() + 1 + item.size() > kWidth) {
            text += line + "\n";
            line = std::string(23, ' ');
        }
        line += " " + item;
    }
    return text + line + "\n";
}

std::string Usage() {
    return "usage: tessera-config [OPTIONS] show [--json]\n"
           "       tessera-config [OPTIONS] set [--region L,T,W,H] [--end-region L,T,W,H]\n"
           "                                    [--block W,H] [--opacity P] [--format " +
           FormatNames("|", "|") +
           "]\n"
           "       tessera-config [OPTIONS] reset\n"
           "\n"
           "The saved configuration of the Tessera effects, which the plug-in reads at start-up.\n"
           "  --region L,T,W,H      the region: left, top, width, height, fractions of the frame;\n"
           "                        Tessera Motion's region on the clip's first frame\n"
           "  --end-region L,T,W,H  Tessera Motion only: its region on the clip's last frame (in\n"
           "                        between, the region moves evenly from one to the other)\n"
           "  --block W,H           block width and height, thousandths of the frame's (0 to 250)\n"
           "  --opacity P           the original laid back over the mosaic, percent (0 to 100)\n" +
           FormatHelp() +
           "OPTIONS (also after the command):\n"
           "  --plugin E            the effect: tessera (the default) or motion (Tessera Motion,\n"
           "                        com.kelmar.vidkit.tesseramotion); each has its own file\n"
           "  --prefs-dir DIR       the folder of the preferences file (default: "
           "$XDG_CONFIG_HOME,\n"
           "                        else ~/.config)\n";
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
    Refuse("--plugin wants tessera or motion, not '" + name + "'");
}

std::vector<double> Numbers(const std::string& option, const std::string& text, size_t count) {
    std::vector<double> values;
    size_t at = 0;
    while (true) {
        const size_t comma = text.find(',', at);
        const std::string part = text.substr(at, comma == std::string::npos ? comma : comma - at);
        char* end = nullptr;
        errno = 0;
        const double v = std::strtod(part.c_str(), &end);
        if (part.empty() || *end != '\0' || errno != 0 || !std::isfinite(v)) {
            Refuse(option + " wants " + std::to_string(count) +
                   " numbers separated by commas, not '" + text + "'");
        }
        values.push_back(v);
        if (comma == std::string::npos) {
            break;
        }
        at = comma + 1;
    }
    if (values.size() != count) {
        Refuse(option + " wants " + std::to_string(count) + " numbers separated by commas, not '" +
               text + "'");
    }
    return values;
}

SInt16 WholeNumber(const std::string& option, double v, int low, int high) {
    if (v != std::trunc(v) || v < low || v > high) {
        Refuse(option + " wants whole numbers from " + std::to_string(low) + " to " +
               std::to_string(high));
    }
    return SInt16(v);
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

// Takes the option NAME (as "NAME VALUE" or "NAME=VALUE") out of args, wherever it stands.
std::optional<std::string> TakeOption(std::vector<std::string>& args, const std::string& name,
                                      const char* what) {
    std::optional<std::string> value;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name) {
            if (i + 1 == args.size()) {
                Refuse(name + " needs " + what);
            }
            value = args[i + 1];
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
            --i;
        } else if (args[i].rfind(name + "=", 0) == 0) {
            value = args[i].substr(name.size() + 1);
            args.erase(args.begin() + long(i));
            --i;
        }
    }
    return value;
}

relRect Region(const std::string& option, const std::string& text) {
    const auto v = Numbers(option, text, 4);
    if (v[2] <= 0 || v[3] <= 0) {
        Refuse(option + ": the width and the height must be above 0");
    }
    return relRect{v[0], v[0] + v[2], v[1], v[1] + v[3]};
}

// Points the plug-in's storage at DIR for this process (it finds the file in the toolbox's
// Preferences folder).
void UsePrefsDir(const std::string& given) {
    if (given.empty()) {
        Refuse("--prefs-dir needs a folder");
    }
    if (!toolbox::folders::usePreferencesFolder(given)) {
        Refuse("--prefs-dir: '" + given + "' is not a folder");
    }
}

int ShowCommand(const effectIdentityRec& effect, const std::vector<std::string>& options) {
    bool json = false;
    for (const std::string& a : options) {
        if (a != "--json") {
            Refuse("show: unknown option '" + a + "' (see --help)");
        }
        json = true;
    }
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

int ResetCommand(const effectIdentityRec& effect, const std::vector<std::string>& options) {
    if (!options.empty()) {
        Refuse("reset takes no options, not '" + options[0] + "'");
    }
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
    Refuse("--format wants " + FormatNames(", ", " or ") + ", not '" + f + "'");
}

// One option of `set` (NAME with its VALUE) into `changes`; false for an unknown NAME.
bool TakeSetOption(const effectIdentityRec& effect, const std::string& name,
                   const std::function<std::string()>& value, Changes& changes) {
    if (name == "--region") {
        changes.region = Region("--region", value());
    } else if (name == "--end-region") {
        if (effect.usedNumberOfRects <= 1) {
            Refuse(std::string("--end-region: ") + effect.clearName +
                   " has one region for the whole clip; the moving one is --plugin motion");
        }
        changes.endRegion = Region("--end-region", value());
    } else if (name == "--block") {
        const auto v = Numbers("--block", value(), 2);
        changes.block = {WholeNumber("--block", v[0], 0, 250),
                         WholeNumber("--block", v[1], 0, 250)};
    } else if (name == "--opacity") {
        changes.opacity = WholeNumber("--opacity", Numbers("--opacity", value(), 1)[0], 0, 100);
    } else if (name == "--format") {
        changes.format = FormatCode(value());
    } else {
        return false;
    }
    return true;
}

// Every value is checked here, before the file is read or written.
Changes ParseSet(const effectIdentityRec& effect, const std::vector<std::string>& options) {
    Changes changes;
    for (size_t i = 0; i < options.size(); ++i) {
        const std::string& a = options[i];
        const size_t eq = a.find('=');
        auto value = [&]() -> std::string {
            if (eq != std::string::npos) {
                return a.substr(eq + 1);
            }
            if (i + 1 == options.size()) {
                Refuse(a + " needs a value");
            }
            return options[++i];
        };
        if (!TakeSetOption(effect, a.substr(0, eq), value, changes)) {
            Refuse("set: unknown option '" + a + "' (see --help)");
        }
    }
    if (!changes.any()) {
        Refuse(std::string("set needs at least one of --region, ") +
               (effect.usedNumberOfRects > 1 ? "--end-region, " : "") +
               "--block, --opacity, --format");
    }
    return changes;
}

int SetCommand(const effectIdentityRec& effect, const std::vector<std::string>& options) {
    const Changes changes = ParseSet(effect, options);
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

int Run(std::vector<std::string> args) {
    const std::optional<std::string> prefsDir = TakeOption(args, "--prefs-dir", "a folder");
    const std::optional<std::string> plugin = TakeOption(args, "--plugin", "an effect");
    const effectIdentityRec& effect = plugin ? ChooseEffect(*plugin) : cTesseraIdentity;
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(Usage().c_str(), args.empty() ? stderr : stdout);
        return args.empty() ? kExitUsage : 0;
    }
    if (prefsDir) {
        UsePrefsDir(*prefsDir);
    }
    const std::string& command = args[0];
    const std::vector<std::string> options(args.begin() + 1, args.end());
    if (command == "show") {
        return ShowCommand(effect, options);
    }
    if (command == "reset") {
        return ResetCommand(effect, options);
    }
    if (command == "set") {
        return SetCommand(effect, options);
    }
    Refuse("unknown command '" + command + "' (see --help)");
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const Refused& r) {
        std::fprintf(stderr, "tessera-config: %s\n", r.text.c_str());
        return r.status;
    }
}
