// ColorPicker.cpp - NPickColor and GetColor on QColorDialog (see ColorPicker.h).
#include "Seam.h"
#include "UIPrivate.h"

#include <QColor>
#include <QColorDialog>

#include <cstring>

OSStatus NPickColor(NColorPickerInfo* theColorInfo) {
    if (theColorInfo == nullptr) {
        return paramErr;
    }
    const CMRGBColor in = theColorInfo->theColor.color.rgb;
    toolbox::ui::testing::ColorPickerRecord record;
    record.prompt = toolbox::ui::utf8FromPascal(theColorInfo->prompt);
    record.initial = RGBColor{in.red, in.green, in.blue};
    toolbox::ui::seam::logColorPicker(record);

    std::optional<RGBColor> chosen;
    if (auto scripted = toolbox::ui::seam::takeColorAnswer()) {
        chosen = *scripted;
    } else if (toolbox::ui::ensureQt()) {
        QColorDialog dialog(toolbox::ui::openerWidget());
        dialog.setWindowTitle(QString::fromStdString(record.prompt));
        dialog.setCurrentColor(QColor::fromRgba64(in.red, in.green, in.blue));
        if (dialog.exec() == QDialog::Accepted) {
            const QRgba64 c = dialog.selectedColor().rgba64();
            chosen = RGBColor{c.red(), c.green(), c.blue()};
        }
    } else {
        return noUserInteractionAllowed;
    }
    theColorInfo->newColorChosen = chosen.has_value();
    if (chosen) {
        theColorInfo->theColor.color.rgb = CMRGBColor{chosen->red, chosen->green, chosen->blue};
    }
    return noErr;
}

Boolean GetColor(Point where, ConstStr255Param prompt, const RGBColor* inColor,
                 RGBColor* outColor) {
    if (inColor == nullptr || outColor == nullptr) {
        return false;
    }
    NColorPickerInfo info{};
    info.theColor.color.rgb = CMRGBColor{inColor->red, inColor->green, inColor->blue};
    info.flags = kColorPickerDialogIsMoveable | kColorPickerDialogIsModal;
    info.placeWhere = kAtSpecifiedOrigin;
    info.dialogOrigin = where;
    if (prompt != nullptr) {
        std::memcpy(info.prompt, prompt, std::size_t(prompt[0]) + 1);
    }
    if (NPickColor(&info) != noErr || !info.newColorChosen) {
        return false;
    }
    *outColor = RGBColor{info.theColor.color.rgb.red, info.theColor.color.rgb.green,
                         info.theColor.color.rgb.blue};
    return true;
}
