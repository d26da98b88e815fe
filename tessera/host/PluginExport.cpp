// PluginExport.cpp - the one symbol the bundle exports: the C function `main`.
//
// Built only into the plug-in module, never into the engine library that the tests link
// (where a second `main` would clash with the test program's own). The name is given to
// the assembler directly, because C++ reserves `main` for the program's entry.
#include "iMovieGlue.h"

extern "C" __attribute__((visibility("default"))) SInt32
TesseraExportedMain(SInt32 which, _PluginParams* params) __asm__("main");

extern "C" SInt32 TesseraExportedMain(SInt32 which, _PluginParams* params) {
    return TesseraMain(which, params);
}
