// ResFixtures.h - fixtures shared by the resource, file and Core Foundation tests: a real
// temporary folder (removed afterwards) used as XDG_CONFIG_HOME, and small file helpers.
#pragma once

#include "Files.h"
#include "Resources.h"
#include "TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace restest {

using TempDir = testfs::TempFolder;

// Sets an environment variable for the life of the object (nullopt: unset it).
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

using testfs::Slurp;
using testfs::WriteAll;

inline std::vector<UInt8> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}
inline std::string textOf(const std::vector<UInt8>& v) {
    return {v.begin(), v.end()};
}

inline unsigned modeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0xFFFFu;
}

// The Pascal string of a literal, for calls that take ConstStr255Param.
struct PStr {
    explicit PStr(const std::string& s) {
        buf[0] = UInt8(s.size());
        std::copy(s.begin(), s.end(), buf + 1);
    }
    operator ConstStr255Param() const { return buf; }
    unsigned char buf[256];
};

inline std::string fromP(ConstStr255Param p) {
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

// A plain (data-fork) resource file holding the given resources.
inline void writeResourceFile(const std::string& path, const toolbox::rsrc::ResourceMap& map) {
    std::vector<UInt8> bytes;
    ASSERT_EQ(map.serialize(bytes), noErr);
    WriteAll(path, textOf(bytes));
}

inline toolbox::rsrc::Resource makeResource(ResType type, ResID id, std::string data,
                                            std::optional<std::string> name = std::nullopt) {
    toolbox::rsrc::Resource r;
    r.type = type;
    r.id = id;
    r.name = std::move(name);
    r.data = bytesOf(data);
    return r;
}

// A 'STR#' list of the given Mac Roman texts.
inline std::string strList(const std::vector<std::string>& texts) {
    std::string d;
    d += char(texts.size() >> 8);
    d += char(texts.size() & 0xFF);
    for (const auto& t : texts) {
        d += char(t.size());
        d += t;
    }
    return d;
}

} // namespace restest
