// A plug-in that uses the windowing toolbox can be unloaded and loaded again, as hosts do,
// and open its windows each time (Qt's form loader does not survive being unloaded, so the
// toolbox stays loaded once it has been). This program does not link the toolbox itself.
#include "CoreFoundation.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

TEST(Reload, APluginUsingWindowsCanBeUnloadedAndLoadedAgain) {
    ASSERT_EQ(dlopen("libtessera-toolbox-ui.so", RTLD_NOW | RTLD_NOLOAD), nullptr);
    testfs::TempFolder dir("tbui-reload");
    const std::string contents = "Reload.bundle/Contents/";
    dir.write(
        contents + "Info.plist",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleIdentifier</key><string>org.tessera.test.reload</string></dict></plist>\n");
    dir.write(
        contents + "Resources/test.nib/main.ui",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>main</class>"
        "<widget class=\"QWidget\" name=\"main\"><property name=\"geometry\"><rect><x>0</x><y>0</y>"
        "<width>120</width><height>80</height></rect></property>"
        "<widget class=\"ToolboxControl\" name=\"box\"><property name=\"geometry\"><rect><x>10</x>"
        "<y>10</y><width>40</width><height>40</height></rect></property>"
        "<property name=\"controlClass\" stdset=\"0\"><string>org.tessera.test.reload</string>"
        "</property></widget></widget><customwidgets><customwidget><class>ToolboxControl</class>"
        "<extends>QWidget</extends></customwidget></customwidgets></ui>\n");
    const std::string bundle = dir / "Reload.bundle";
    for (int round = 0; round < 3; ++round) {
        void* module = dlopen(RELOAD_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        using Open = OSStatus (*)(const char*);
        auto open = reinterpret_cast<Open>(dlsym(module, "ReloadModuleOpenWindow"));
        ASSERT_NE(open, nullptr);
        EXPECT_EQ(open(bundle.c_str()), noErr) << "round " << round;
        EXPECT_EQ(dlclose(module), 0);
    }
    // The module went; the toolbox it pulled in stays.
    EXPECT_NE(dlopen("libtessera-toolbox-ui.so", RTLD_NOW | RTLD_NOLOAD), nullptr);
}

} // namespace
