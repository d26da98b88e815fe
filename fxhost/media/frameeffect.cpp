// frameeffect.cpp - the plug-in bundle as the render loop's effect (see frameeffect.h): the
// host session's calls, unchanged.
#include "frameeffect.h"

#include "pluginbundle.h"

namespace fxhost::media {

namespace {

class BundleEffect final : public FrameEffect {
  public:
    BundleEffect(const std::filesystem::path& path, const ClipSettings& clip, FrameSource& video)
        : bundle_(path), name_(bundle_.path().filename().string()), session_(bundle_, video) {
        session_.settings() = clip;
    }
    const std::string& name() const override { return name_; }
    SInt32 getInfo(SInt32 selected) override { return session_.getInfo(selected); }
    SInt32 begin(SInt32 start, SInt32 count) override { return session_.begin(start, count); }
    SInt32 frame(SInt32 renderFrame) override { return session_.frame(renderFrame); }
    SInt32 end() override { return session_.end(); }
    void setFrameSize(int width, int height) override { session_.setFrameSize(width, height); }
    void attachDestination(std::uint8_t* base, std::ptrdiff_t rowBytes) override {
        session_.attachDestination(base, rowBytes);
    }
    std::optional<SInt16> mixedLevel(SInt32 frameIndex) const override {
        return session_.mixedLevel(frameIndex);
    }
    const std::string& lastFrameError() const override { return session_.lastFrameError(); }

  private:
    const PluginBundle bundle_;
    std::string name_;
    HostSession session_;
};

} // namespace

std::unique_ptr<FrameEffect> MakeBundleEffect(const std::filesystem::path& bundle,
                                              const ClipSettings& clip, FrameSource& video) {
    return std::make_unique<BundleEffect>(bundle, clip, video);
}

} // namespace fxhost::media
