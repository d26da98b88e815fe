// PluginExport.cpp - the bundle's executable: the one symbol it exports, the C function
// `main`, and the wiring of the parts that must not include each other.
//
// Built only into the plug-in module, never into the libraries that the tests link (where a
// second `main` would clash with the test program's own). The name is given to the
// assembler directly, because C++ reserves `main` for the program's entry. The host glue
// and the dialog know nothing of each other: here the glue is handed the dialog that its
// custom button opens.
#include "iMovieGlue.h"
#if TESSERA_WITH_DIALOG
#include "configdlghandler.h"
#endif

extern "C" __attribute__((visibility("default"))) SInt32
TesseraExportedMain(SInt32 which, _PluginParams* params) __asm__("main");

extern "C" SInt32 TesseraExportedMain(SInt32 which, _PluginParams* params) {
#if TESSERA_WITH_DIALOG
    static const bool dialogHandedOver = (SetConfigureDialog(ConfigurePlugIn), true);
    (void)dialogHandedOver;
#endif
    return TesseraMain(which, params);
}
