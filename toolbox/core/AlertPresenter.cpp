// AlertPresenter.cpp - the settable alert presenter (see AlertPresenter.h).
#include "AlertPresenter.h"

#include <atomic>
#include <cstdio>

namespace toolbox {

namespace {
std::atomic<AlertPresenter> gPresenter{nullptr};
} // namespace

SInt16 PresentAlertOnStandardError(AlertKind kind, std::string_view headline,
                                   std::string_view description, std::string_view okText,
                                   std::string_view cancelText) {
    const char* tag = kind == AlertKind::stop ? "Stop" : "Caution";
    std::fprintf(stderr, "[%s] %.*s\n%.*s\n", tag, int(headline.size()), headline.data(),
                 int(description.size()), description.data());
    if (!okText.empty() && kind == AlertKind::caution) {
        std::fprintf(stderr, "(answered: %.*s)\n", int(okText.size()), okText.data());
    }
    (void)cancelText;
    std::fflush(stderr);
    return 1; // nobody to ask: the default button
}

AlertPresenter SetAlertPresenter(AlertPresenter presenter) {
    return gPresenter.exchange(presenter);
}

SInt16 PresentAlert(AlertKind kind, std::string_view headline, std::string_view description,
                    std::string_view okText, std::string_view cancelText) {
    const AlertPresenter presenter = gPresenter.load();
    return (presenter != nullptr ? presenter : PresentAlertOnStandardError)(
        kind, headline, description, okText, cancelText);
}

} // namespace toolbox
