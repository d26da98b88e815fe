// The texts of the Tessera Motion plug-in that the host shows: its slider labels, the labels
// at the ends of each slider, the title of the button that opens the configuration dialog,
// and the group the effect is listed under. Compiled into Contents/Resources/TesseraMotion.rsrc
// by rezc.

// The host's three sliders, in order.
resource 'STR#' (128, "Slider labels") {
    "Block width";
    "Block height";
    "Opacity";
};

// The low and the high end of each slider, slider 1 first.
resource 'STR#' (129, "Slider end labels") {
    "Fine";     "Coarse";     // block width
    "Fine";     "Coarse";     // block height
    "Mosaic";   "Original";   // opacity: how much of the untouched frame shows through
};

// The custom button (at most 31 characters).
resource 'STR#' (130, "Button title") {
    "Regions…";
};

// The group in the host's effect list.
resource 'STR#' (17000, "Group") {
    "Tessera";
};
