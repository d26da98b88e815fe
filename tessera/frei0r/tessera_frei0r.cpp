// tessera_frei0r.cpp - the frei0r 1.2 entry points of tessera.so (a filter, RGBA8888).
//
// Owns: the C interface that ffmpeg, GStreamer and MLT load; every call goes to one
// Filter instance. Promises: no entry throws into the host; a size the engine cannot
// render makes no instance (the reason on standard error); the parameters keep their
// order, since ffmpeg passes them by position. Instances share nothing, so hosts may call
// them from several threads at once.
extern "C" {
#include <frei0r.h>
}

#include "TesseraFilter.h"

#include <cstdio>
#include <string>

using tessera::frei0r::Filter;
using tessera::frei0r::kParamCount;
using tessera::frei0r::kParams;

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
    info->num_params = kParamCount;
    info->explanation = "Mosaic of blocks over a region of the frame";
}

TESSERA_F0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
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
        return filter.release();
    } catch (...) {
        std::fprintf(stderr, "tessera: out of memory making an instance\n");
        return nullptr;
    }
}

TESSERA_F0R_EXPORT void f0r_destruct(f0r_instance_t instance) {
    delete static_cast<Filter*>(instance);
}

TESSERA_F0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param,
                                            int param_index) {
    if (instance != nullptr && param != nullptr) {
        static_cast<Filter*>(instance)->SetParam(param_index,
                                                 *static_cast<const f0r_param_double*>(param));
    }
}

TESSERA_F0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param,
                                            int param_index) {
    if (instance != nullptr && param != nullptr) {
        *static_cast<f0r_param_double*>(param) =
            static_cast<Filter*>(instance)->GetParam(param_index);
    }
}

// time is unused: the effect is the same on every frame (hosts animate the parameters).
TESSERA_F0R_EXPORT void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                                   uint32_t* outframe) {
    (void)time;
    if (instance != nullptr) {
        static_cast<Filter*>(instance)->Update(inframe, outframe);
    }
}

TESSERA_F0R_EXPORT void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1,
                                    const uint32_t* inframe2, const uint32_t* inframe3,
                                    uint32_t* outframe) {
    (void)inframe2;
    (void)inframe3;
    f0r_update(instance, time, inframe1, outframe);
}
