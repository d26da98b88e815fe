// tessera_frei0r.cpp - the frei0r 1.2 entry points of tessera.so (a filter, RGBA8888).
//
// Owns: the C interface that ffmpeg, GStreamer and MLT load; every call goes to one
// Filter instance. Promises: no entry throws into the host; a size the engine cannot
// render makes no instance (the reason on standard error); the parameters keep their
// order, since ffmpeg passes them by position. Instances share nothing, so hosts may call
// them from several threads at once.
//
// The host's time: frei0r defines it in seconds, and GStreamer's frei0r elements, MLT and
// fxhost pass seconds; ffmpeg's frei0r filter passes milliseconds (pts x time base x 1000).
// Which host calls is told by the object the call comes from: each entry takes its return
// address, and dladdr names the library (or program) holding it. A caller that is libavfilter,
// or that exports avfilter_version (a statically linked ffmpeg), passes milliseconds. This is
// looked at per call site, not per process, since MLT's avformat module puts libavfilter in
// melt's process while MLT's own frei0r module calls us in seconds.
extern "C" {
#include <frei0r.h>
}

#include "TesseraFilter.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>

using tessera::frei0r::Filter;
using tessera::frei0r::kParamCount;
using tessera::frei0r::kParams;
using tessera::frei0r::kTrack;

namespace {

// Seconds per unit of the time that the code at `caller` passes.
double TimeUnitOf(const void* caller) {
    Dl_info info{};
    if (caller == nullptr || dladdr(caller, &info) == 0 || info.dli_fname == nullptr) {
        return 1.0;
    }
    const char* base = std::strrchr(info.dli_fname, '/');
    base = base != nullptr ? base + 1 : info.dli_fname;
    if (std::strncmp(base, "libavfilter", 11) == 0) {
        return 0.001;
    }
    void* object =
        dlopen(info.dli_fname[0] != 0 ? info.dli_fname : nullptr, RTLD_LAZY | RTLD_NOLOAD);
    if (object == nullptr) {
        return 1.0;
    }
    // dlsym searches the object's dependencies too: the symbol must be the caller's own.
    void* symbol = dlsym(object, "avfilter_version");
    Dl_info owner{};
    const bool ffmpeg =
        symbol != nullptr && dladdr(symbol, &owner) != 0 && owner.dli_fbase == info.dli_fbase;
    dlclose(object);
    return ffmpeg ? 0.001 : 1.0;
}

// One instance's state in the C interface: the filter and its host's time unit.
struct Instance {
    std::unique_ptr<Filter> filter;
    const void* caller = nullptr;
    double unit = 1.0;
};

void Update(Instance* instance, const void* caller, double time, const uint32_t* in,
            uint32_t* out) {
    if (caller != instance->caller) {
        instance->caller = caller;
        instance->unit = TimeUnitOf(caller);
    }
    instance->filter->Update(in, out, time * instance->unit);
}

} // namespace

#define TESSERA_F0R_EXPORT extern "C" __attribute__((visibility("default")))

TESSERA_F0R_EXPORT int f0r_init() {
    return 1;
}

TESSERA_F0R_EXPORT void f0r_deinit() {}

TESSERA_F0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    info->name = "Tessera";
    info->author = "Kelmar";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 3;
    info->minor_version = 0;
    info->num_params = tessera::frei0r::kAllParamCount;
    info->explanation = "Mosaic of blocks over a region of the frame";
}

TESSERA_F0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
    if (param_index == kTrack) {
        info->name = tessera::frei0r::kTrackParam.name;
        info->type = F0R_PARAM_STRING;
        info->explanation = tessera::frei0r::kTrackParam.explanation;
        return;
    }
    if (param_index < 0 || param_index >= kParamCount) {
        return;
    }
    info->name = kParams[size_t(param_index)].name;
    info->type = F0R_PARAM_DOUBLE;
    info->explanation = kParams[size_t(param_index)].explanation;
}

TESSERA_F0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    try {
        std::string why;
        std::unique_ptr<Filter> filter = Filter::Make(width, height, &why);
        if (!filter) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return nullptr;
        }
        return new Instance{std::move(filter)};
    } catch (...) {
        std::fprintf(stderr, "tessera: out of memory making an instance\n");
        return nullptr;
    }
}

TESSERA_F0R_EXPORT void f0r_destruct(f0r_instance_t instance) {
    delete static_cast<Instance*>(instance);
}

TESSERA_F0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                                            int param_index) {
    if (instance == nullptr || param == nullptr) {
        return;
    }
    Filter& filter = *static_cast<Instance*>(instance)->filter;
    if (param_index == kTrack) {
        try {
            const char* path = *static_cast<const f0r_param_string*>(param);
            filter.SetTrack(path != nullptr ? path : "");
        } catch (...) {
            std::fprintf(stderr, "tessera: out of memory setting the track\n");
        }
        return;
    }
    filter.SetParam(param_index, *static_cast<const f0r_param_double*>(param));
}

TESSERA_F0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                                            int param_index) {
    if (instance == nullptr || param == nullptr) {
        return;
    }
    const Filter& filter = *static_cast<Instance*>(instance)->filter;
    if (param_index == kTrack) {
        // The instance's own string, valid until the track is set again.
        *static_cast<f0r_param_string*>(param) = const_cast<char*>(filter.TrackPath().c_str());
        return;
    }
    *static_cast<f0r_param_double*>(param) = filter.GetParam(param_index);
}

// time picks the track's frame; without a track the effect is the same on every frame (hosts
// animate the parameters).
TESSERA_F0R_EXPORT void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                                   uint32_t* outframe) {
    if (instance != nullptr) {
        Update(static_cast<Instance*>(instance), __builtin_return_address(0), time, inframe,
               outframe);
    }
}

TESSERA_F0R_EXPORT void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1,
                                    const uint32_t* inframe2, const uint32_t* inframe3,
                                    uint32_t* outframe) {
    (void)inframe2;
    (void)inframe3;
    if (instance != nullptr) {
        Update(static_cast<Instance*>(instance), __builtin_return_address(0), time, inframe1,
               outframe);
    }
}
