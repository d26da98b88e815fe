// UITestSupport.cpp - the fixtures of UITestSupport.h.
#include "UITestSupport.h"

#include <QImage>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace uitest {

CFBundleRef MakeBundle(const TempDir& dir, const std::string& identifier, const NibFiles& nibs) {
    const std::string root = "Test-" + identifier + ".bundle/Contents/";
    dir.write(root + "Info.plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                   "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                   "<plist version=\"1.0\"><dict>\n"
                                   "<key>CFBundleIdentifier</key><string>" +
                                       identifier +
                                       "</string>\n"
                                       "<key>CFBundleName</key><string>Test</string>\n"
                                       "</dict></plist>\n");
    dir.write(root + "Resources/readme.txt", "resources\n");
    for (const auto& [nib, windows] : nibs) {
        std::filesystem::create_directories(dir.file(root + "Resources/" + nib + ".nib"));
        for (const auto& [window, xml] : windows) {
            dir.write(root + "Resources/" + nib + ".nib/" + window + ".ui", xml);
        }
    }
    const std::string path = dir.file("Test-" + identifier + ".bundle");
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(path.c_str()), CFIndex(path.size()), true);
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    CFRelease(url);
    return bundle;
}

std::string Form(const std::string& name, int width, int height, const std::string& title,
                 const std::string& children) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\">\n <class>" + name +
           "</class>\n <widget class=\"QWidget\" name=\"" + name +
           "\">\n  <property name=\"geometry\"><rect><x>0</x><y>0</y><width>" +
           std::to_string(width) + "</width><height>" + std::to_string(height) +
           "</height></rect></property>\n  <property name=\"windowTitle\"><string>" + title +
           "</string></property>\n" + children +
           " </widget>\n <customwidgets><customwidget><class>ToolboxControl</class>"
           "<extends>QWidget</extends><header>ToolboxControl.h</header></customwidget>"
           "</customwidgets>\n</ui>\n";
}

std::string Widget(const std::string& cls, const std::string& name, int x, int y, int w, int h,
                   const std::string& props,
                   const std::vector<std::pair<std::string, std::string>>& dyn) {
    std::string xml = "  <widget class=\"" + cls + "\" name=\"" + name +
                      "\">\n   <property name=\"geometry\"><rect><x>" + std::to_string(x) +
                      "</x><y>" + std::to_string(y) + "</y><width>" + std::to_string(w) +
                      "</width><height>" + std::to_string(h) + "</height></rect></property>\n";
    xml += props;
    for (const auto& [key, value] : dyn) {
        char* end = nullptr;
        std::strtol(value.c_str(), &end, 10);
        const bool number = !value.empty() && *end == '\0';
        xml += "   <property name=\"" + key + "\" stdset=\"0\">" +
               (number ? "<number>" + value + "</number>" : "<string>" + value + "</string>") +
               "</property>\n";
    }
    return xml + "  </widget>\n";
}

std::string MainForm() {
    const std::string horizontal =
        "   <property name=\"orientation\"><enum>Qt::Horizontal</enum></property>\n";
    std::string children;
    children +=
        Widget("QSlider", "slider1", 20, 20, 200, 24,
               horizontal + "   <property name=\"maximum\"><number>100</number></property>\n"
                            "   <property name=\"value\"><number>10</number></property>\n",
               {{"signature", "Sldr"}, {"number", "1"}});
    children += Widget("QLabel", "legend1", 230, 20, 80, 24,
                       "   <property name=\"text\"><string>10%</string></property>\n",
                       {{"signature", "Lgnd"}, {"number", "1"}});
    children += Widget("QComboBox", "media", 20, 60, 120, 24,
                       "   <item><property name=\"text\"><string>NTSC</string></property></item>\n"
                       "   <item><property name=\"text\"><string>PAL</string></property></item>\n"
                       "   <item><property name=\"text\"><string>HD</string></property></item>\n",
                       {{"signature", "Medi"}, {"number", "1"}, {"command", "Medi"}});
    children += Widget("QCheckBox", "prop", 160, 60, 120, 24,
                       "   <property name=\"text\"><string>Keep</string></property>\n",
                       {{"signature", "Prop"}, {"number", "1"}, {"command", "Prop"}});
    children += Widget("QPushButton", "ok", 320, 280, 80, 28,
                       "   <property name=\"text\"><string>OK</string></property>\n"
                       "   <property name=\"default\"><bool>true</bool></property>\n",
                       {{"command", "ok  "}});
    children += Widget("QPushButton", "cancel", 230, 280, 80, 28,
                       "   <property name=\"text\"><string>Cancel</string></property>\n",
                       {{"command", "not!"}});
    children += Widget("QPushButton", "info", 20, 280, 80, 28,
                       "   <property name=\"text\"><string>About</string></property>\n",
                       {{"command", "Info"}});
    children += Widget("ToolboxControl", "box1", 20, 110, 120, 90, "",
                       {{"signature", "Clip"},
                        {"number", "1"},
                        {"controlClass", kBoxClass},
                        {"command", "Boxx"},
                        {"minimum", "0"},
                        {"maximum", "16777215"},
                        {"value", "16711680"}});
    children += Widget("ToolboxControl", "box2", 200, 110, 60, 60, "",
                       {{"signature", "Clip"}, {"number", "2"}, {"controlClass", kBoxClass}});
    return Form("main", 420, 320, "Test Window", children);
}

// ---- images -----------------------------------------------------------------------------

namespace {
void le16(std::string& s, int v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
void le32(std::string& s, UInt32 v) {
    for (int i = 0; i < 4; ++i) {
        s += char((v >> (8 * i)) & 0xFF);
    }
}
} // namespace

std::string GifBytes(int width, int height, const std::vector<RGBColor>& frames) {
    std::string g = "GIF89a";
    le16(g, width);
    le16(g, height);
    const int tableBits = 2; // 2^(tableBits) entries... written as size field tableBits - 1
    g += char(0x80 | 0x70 | (tableBits - 1));
    g += char(0); // background
    g += char(0); // aspect
    // Colour table: one entry per frame, padded to four.
    for (int i = 0; i < 4; ++i) {
        const RGBColor c = i < int(frames.size()) ? frames[std::size_t(i)] : RGBColor{0, 0, 0};
        g += char(c.red >> 8);
        g += char(c.green >> 8);
        g += char(c.blue >> 8);
    }
    for (std::size_t f = 0; f < frames.size(); ++f) {
        // Graphic control: 10/100 s delay, no disposal.
        g += "\x21\xF9\x04";
        g += char(0);
        le16(g, 10);
        g += char(0);
        g += char(0);
        g += char(0x2C);
        le16(g, 0);
        le16(g, 0);
        le16(g, width);
        le16(g, height);
        g += char(0);
        // LZW with 2-bit pixels: codes are 3 bits wide (clear 4, end 5). A clear before every
        // two pixels keeps the table from growing, so no code ever needs 4 bits.
        const int minCode = 2;
        g += char(minCode);
        std::string data;
        UInt32 acc = 0;
        int bits = 0;
        auto put = [&](int code) {
            acc |= UInt32(code) << bits;
            bits += 3;
            while (bits >= 8) {
                data += char(acc & 0xFF);
                acc >>= 8;
                bits -= 8;
            }
        };
        const int pixels = width * height;
        for (int i = 0; i < pixels; ++i) {
            if (i % 2 == 0) {
                put(4);
            }
            put(int(f));
        }
        put(5);
        if (bits > 0) {
            data += char(acc & 0xFF);
        }
        for (std::size_t at = 0; at < data.size(); at += 255) {
            const std::size_t n = std::min<std::size_t>(255, data.size() - at);
            g += char(n);
            g += data.substr(at, n);
        }
        g += char(0);
    }
    g += char(0x3B);
    return g;
}

std::string TiffBytes(const std::vector<TiffPage>& pages) {
    std::string t = "II*";
    t += char(0);
    le32(t, 8); // first IFD right after the header
    for (std::size_t p = 0; p < pages.size(); ++p) {
        const TiffPage& page = pages[p];
        const int entries = 10;
        const UInt32 ifdStart = UInt32(t.size());
        const UInt32 ifdSize = 2 + 12 * entries + 4;
        const UInt32 bpsAt = ifdStart + ifdSize; // three shorts: 8, 8, 8
        const UInt32 pixelsAt = bpsAt + 6 + 2;   // word-aligned
        const UInt32 pixelBytes = UInt32(page.width * page.height * 3);
        const UInt32 next = p + 1 < pages.size() ? pixelsAt + pixelBytes + (pixelBytes & 1) : 0;
        le16(t, entries);
        auto entry = [&](int tag, int type, UInt32 count, UInt32 value) {
            le16(t, tag);
            le16(t, type);
            le32(t, count);
            if (type == 3 && count == 1) {
                le16(t, int(value));
                le16(t, 0);
            } else {
                le32(t, value);
            }
        };
        entry(256, 4, 1, UInt32(page.width));  // ImageWidth
        entry(257, 4, 1, UInt32(page.height)); // ImageLength
        entry(258, 3, 3, bpsAt);               // BitsPerSample
        entry(259, 3, 1, 1);                   // Compression: none
        entry(262, 3, 1, 2);                   // Photometric: RGB
        entry(273, 4, 1, pixelsAt);            // StripOffsets
        entry(277, 3, 1, 3);                   // SamplesPerPixel
        entry(278, 4, 1, UInt32(page.height)); // RowsPerStrip
        entry(279, 4, 1, pixelBytes);          // StripByteCounts
        entry(284, 3, 1, 1);                   // PlanarConfiguration: chunky
        le32(t, next);
        le16(t, 8);
        le16(t, 8);
        le16(t, 8);
        le16(t, 0);
        for (int i = 0; i < page.width * page.height; ++i) {
            t += char(page.color.red >> 8);
            t += char(page.color.green >> 8);
            t += char(page.color.blue >> 8);
        }
        if (pixelBytes & 1) {
            t += char(0);
        }
    }
    return t;
}

// ---- the recording control class --------------------------------------------------------

BoxLog& Box() {
    static BoxLog log;
    return log;
}

namespace {

ControlRef directControl(EventRef e) {
    ControlRef c = nullptr;
    GetEventParameter(e, kEventParamDirectObject, typeControlRef, nullptr, sizeof c, nullptr, &c);
    return c;
}

OSStatus BoxHandler(EventHandlerCallRef, EventRef e, void*) {
    BoxLog& log = Box();
    ControlRef c = directControl(e);
    log.events.push_back(GetEventKind(e));
    Rect bounds{};
    GetControlBounds(c, &bounds);
    switch (GetEventKind(e)) {
    case kEventControlHitTest: {
        Point where{};
        GetEventParameter(e, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr,
                          &where);
        ControlPartCode part = 0;
        // The leftmost five pixels are no part: a click there does nothing.
        if (PtInRect(where, &bounds) && where.h >= bounds.left + 5) {
            part = where.v < (bounds.top + bounds.bottom) / 2 ? 1 : 2;
        }
        SetEventParameter(e, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
        return noErr;
    }
    case kEventControlTrack: {
        if (!log.handleTrack) {
            return eventNotHandledErr;
        }
        UInt32 mods = 0;
        GetEventParameter(e, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof mods, nullptr,
                          &mods);
        log.trackModifiers.push_back(mods);
        CGrafPtr saved = nullptr;
        GDHandle device = nullptr;
        GetGWorld(&saved, &device);
        SetPortWindowPort(GetControlOwner(c));
        MouseTrackingResult what = kMouseTrackingMouseDown;
        while (what != kMouseTrackingMouseUp) {
            Point where{};
            TrackMouseLocation(nullptr, &where, &what);
            log.tracked.push_back(what);
            log.trackedAt.push_back(where);
            if (what == kMouseTrackingMouseDragged) {
                const RGBColor green{0, 0xFFFF, 0};
                RGBForeColor(&green);
                Rect dot{SInt16(where.v - 1), SInt16(where.h - 1), SInt16(where.v + 2),
                         SInt16(where.h + 2)};
                PaintRect(&dot);
            }
        }
        SetGWorld(saved, device);
        return noErr;
    }
    case kEventControlHit: {
        ControlPartCode part = 0;
        GetEventParameter(e, kEventParamControlPart, typeControlPartCode, nullptr, sizeof part,
                          nullptr, &part);
        log.hits.push_back(part);
        return log.handleHit ? OSStatus(noErr) : OSStatus(eventNotHandledErr);
    }
    case kEventControlDraw: {
        CGrafPtr port = nullptr;
        GetPort(&port);
        log.drawPorts.push_back(port);
        log.drawHilites.push_back(GetControlHilite(c));
        const SInt32 v = GetControl32BitValue(c);
        const RGBColor fill{UInt16(((v >> 16) & 0xFF) << 8), UInt16(((v >> 8) & 0xFF) << 8),
                            UInt16((v & 0xFF) << 8)};
        RGBForeColor(&fill);
        PaintRect(&bounds);
        const RGBColor black{0, 0, 0};
        RGBForeColor(&black);
        FrameRect(&bounds);
        if (GetControlHilite(c) > 0 && GetControlHilite(c) < kControlDisabledPart) {
            InvertRect(&bounds);
        }
        return noErr;
    }
    case kEventControlActivate:
    case kEventControlOwningWindowChanged:
        return noErr;
    default:
        return eventNotHandledErr;
    }
}

OSStatus CommandHandler(EventHandlerCallRef, EventRef e, void* userData) {
    auto* log = static_cast<CommandLog*>(userData);
    HICommand cmd{};
    if (GetEventParameter(e, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr,
                          &cmd) != noErr) {
        return eventNotHandledErr;
    }
    log->commands.push_back(cmd.commandID);
    for (UInt32 q : log->quitOn) {
        if (q == cmd.commandID) {
            QuitAppModalLoopForWindow(log->window);
            return noErr;
        }
    }
    return log->handled ? OSStatus(noErr) : OSStatus(eventNotHandledErr);
}

} // namespace

ToolboxObjectClassRef RegisterBox() {
    const EventTypeSpec events[] = {
        {kEventClassControl, kEventControlDraw},
        {kEventClassControl, kEventControlHitTest},
        {kEventClassControl, kEventControlHit},
        {kEventClassControl, kEventControlActivate},
        {kEventClassControl, kEventControlOwningWindowChanged},
        {kEventClassControl, kEventControlTrack},
    };
    ToolboxObjectClassRef ref = nullptr;
    CFStringRef id = CFStringCreateWithCString(nullptr, kBoxClass, kCFStringEncodingUTF8);
    RegisterToolboxObjectClass(id, nullptr, 6, events, BoxHandler, nullptr, &ref);
    CFRelease(id);
    return ref;
}

EventHandlerRef InstallCommandLog(WindowRef w, CommandLog* log) {
    log->window = w;
    const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
    EventHandlerRef ref = nullptr;
    InstallEventHandler(GetWindowEventTarget(w), CommandHandler, 1, &spec, log, &ref);
    return ref;
}

UInt32 PortPixel(CGrafPtr port, int x, int y) {
    PixMapHandle pm = GetGWorldPixMap(port);
    const auto* p =
        reinterpret_cast<const unsigned char*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + 4 * x;
    return (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}

UInt32 PngPixel(const std::string& path, int x, int y) {
    QImage image(QString::fromStdString(path));
    if (image.isNull() || x >= image.width() || y >= image.height()) {
        return 0xFFFFFFFF;
    }
    return image.pixel(x, y) & 0xFFFFFF;
}

ControlRef Control(WindowRef w, const char (&sig)[5], SInt32 id) {
    const ControlID cid{FOUR_CHAR_CODE(sig), id};
    ControlRef c = nullptr;
    GetControlByID(w, &cid, &c);
    return c;
}

CFBundleRef TestBundle() {
    static TempDir dir; // removed when the process ends
    static CFBundleRef bundle = [] {
        const std::string small =
            Form("small", 200, 100, "Small",
                 Widget("QLabel", "caption", 10, 10, 180, 20,
                        "   <property name=\"text\"><string>hello</string></property>\n",
                        {{"signature", "Text"}, {"number", "1"}}));
        return MakeBundle(
            dir, kTestBundleID,
            {{"test", {{"main", MainForm()}, {"small", small}, {"broken", "this is not a form"}}},
             {"other", {{"main", small}}}});
    }();
    return bundle;
}

WindowRef OpenWindow(const char* nib, const char* window, OSStatus* err) {
    static ToolboxObjectClassRef box = RegisterBox();
    (void)box;
    IBNibRef ref = nullptr;
    OSStatus r = CreateNibReferenceWithCFBundle(TestBundle(), Str(nib), &ref);
    WindowRef w = nullptr;
    if (r == noErr) {
        r = CreateWindowFromNib(ref, Str(window), &w);
        DisposeNibReference(ref);
    }
    if (err != nullptr) {
        *err = r;
    }
    return w;
}

void ResetLogs() {
    Box() = BoxLog{};
    toolbox::ui::testing::ClearScriptedAnswers();
    toolbox::ui::testing::TakeAlertLog();
    toolbox::ui::testing::TakeColorPickerLog();
    toolbox::ui::testing::TakeOpenDialogLog();
    toolbox::ui::testing::TakeOpenWithLog();
}

Point Centre(ControlRef c) {
    Rect r{};
    GetControlBounds(c, &r);
    return Point{SInt16((r.top + r.bottom) / 2), SInt16((r.left + r.right) / 2)};
}

CFStringRef Str(const char* utf8) {
    return __CFStringMakeConstantString(utf8);
}

} // namespace uitest
