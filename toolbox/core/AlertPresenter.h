// AlertPresenter.h - where code without windows sends the alerts it has to show.
//
// Owns: the one process-wide alert presenter. Code that must not depend on the windowing
// toolbox (a plug-in's engine, a host's core) reports through PresentAlert; the windowing
// toolbox, once loaded, installs a presenter that shows the standard alerts (and writes to
// standard error where there is no display). Promises: without an installed presenter the
// texts are written to standard error as "[Stop] headline" / "[Caution] headline", then the
// description, and the answer is the default button (1). Texts are Mac Roman. Installing
// and presenting may happen on any thread.
#pragma once

#include "MacTypes.h"

#include <string_view>

namespace toolbox {

enum class AlertKind { stop, caution };

// Returns the button pressed: 1 the default one ("okText"), 2 the cancel one (offered only
// when cancelText is not empty). A stop alert has the one default button.
using AlertPresenter = SInt16 (*)(AlertKind kind, std::string_view headline,
                                  std::string_view description, std::string_view okText,
                                  std::string_view cancelText);

// Installs presenter (nil: the standard-error one) and returns the one it replaces.
AlertPresenter SetAlertPresenter(AlertPresenter presenter);

SInt16 PresentAlert(AlertKind kind, std::string_view headline, std::string_view description,
                    std::string_view okText = {}, std::string_view cancelText = {});

// The standard-error presenter, for presenters that fall back on it.
SInt16 PresentAlertOnStandardError(AlertKind kind, std::string_view headline,
                                   std::string_view description, std::string_view okText,
                                   std::string_view cancelText);

} // namespace toolbox
