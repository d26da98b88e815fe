// Seam.h - the scripted-user queues and the dialog logs, as the system dialogs see them
// (the public side is ToolboxUITesting.h). Shared by the toolbox's own modules only.
#pragma once

#include "ToolboxUITesting.h"

#include <optional>
#include <string>
#include <vector>

namespace toolbox::ui::seam {

std::optional<DialogItemIndex> takeAlertAnswer();
void logAlert(testing::AlertRecord record);

// A colour, or nullopt inside for a cancel; nullopt outside when nothing is queued.
std::optional<std::optional<RGBColor>> takeColorAnswer();
void logColorPicker(testing::ColorPickerRecord record);

std::optional<std::vector<std::string>> takeOpenAnswer(); // empty vector: cancel
void logOpenDialog(testing::OpenDialogRecord record);

std::optional<OSStatus> takeOpenWithResult();
void logOpenWith(const std::string& path);

} // namespace toolbox::ui::seam
