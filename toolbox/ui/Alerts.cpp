// Alerts.cpp - standard alerts on QMessageBox, or on standard error without a display
// (see Dialogs.h); ExitToShell.
//
// Owns: alerts between CreateStandardAlert and RunStandardAlert, and the alert presenter
// that this library installs for code without windows (AlertPresenter.h) while it is loaded.
#include "AlertPresenter.h"
#include "Seam.h"
#include "UIPrivate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

struct OpaqueDialogPtr {
    AlertType type = kAlertPlainAlert;
    std::string message;
    std::string explanation;
    struct Button {
        std::string text;
        DialogItemIndex item;
    };
    std::vector<Button> buttons; // default first
    DialogItemIndex defaultItem = kAlertStdAlertOKButton;
    DialogItemIndex cancelItem = 0;
};

namespace {

const char* kindName(AlertType t) {
    switch (t) {
    case kAlertStopAlert:
        return "Stop";
    case kAlertNoteAlert:
        return "Note";
    case kAlertCautionAlert:
        return "Caution";
    default:
        return "Alert";
    }
}

std::string buttonText(CFStringRef s, const char* platformText) {
    if (s == kAlertDefaultOKText) { // the three "platform text" markers are the same value
        return platformText;
    }
    return toolbox::ui::utf8FromCF(s);
}

bool hasText(CFStringRef s) {
    return s != nullptr;
}

DialogItemIndex runOnScreen(const OpaqueDialogPtr& a) {
    QMessageBox box(toolbox::ui::openerWidget());
    box.setWindowTitle(QString());
    box.setTextFormat(Qt::PlainText);
    // The headline is the bold main message, the explanation the smaller text under it.
    if (auto* headline = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont bold = headline->font();
        bold.setBold(true);
        headline->setFont(bold);
    }
    switch (a.type) {
    case kAlertStopAlert:
        box.setIcon(QMessageBox::Critical);
        break;
    case kAlertNoteAlert:
        box.setIcon(QMessageBox::Information);
        break;
    case kAlertCautionAlert:
        box.setIcon(QMessageBox::Warning);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    box.setText(QString::fromStdString(a.message));
    box.setInformativeText(QString::fromStdString(a.explanation));
    std::vector<std::pair<QAbstractButton*, DialogItemIndex>> made;
    for (const auto& b : a.buttons) {
        QMessageBox::ButtonRole role = QMessageBox::AcceptRole;
        if (b.item == kAlertStdAlertCancelButton) {
            role = QMessageBox::RejectRole;
        } else if (b.item == kAlertStdAlertOtherButton) {
            role = QMessageBox::DestructiveRole;
        } else if (b.item == kAlertStdAlertHelpButton) {
            role = QMessageBox::HelpRole;
        }
        QPushButton* button = box.addButton(QString::fromStdString(b.text), role);
        made.emplace_back(button, b.item);
        if (b.item == a.defaultItem) {
            box.setDefaultButton(button);
        }
        if (b.item == a.cancelItem) {
            box.setEscapeButton(button);
        }
    }
    box.exec();
    for (const auto& [button, item] : made) {
        if (box.clickedButton() == button) {
            return item;
        }
    }
    // Closed without a button (only possible through the window system): the cancel button
    // if there is one, else the default one.
    return a.cancelItem != 0 ? a.cancelItem : a.defaultItem;
}

} // namespace

OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamPtr param, UInt32 version) {
    if (param == nullptr || version != kStdCFStringAlertVersionOne) {
        return paramErr;
    }
    *param = AlertStdCFStringAlertParamRec{};
    param->version = kStdCFStringAlertVersionOne;
    param->movable = true;
    param->defaultText = kAlertDefaultOKText;
    param->defaultButton = kAlertStdAlertOKButton;
    param->cancelButton = 0;
    param->position = kWindowDefaultPosition;
    return noErr;
}

OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert) {
    if (outAlert == nullptr) {
        return paramErr;
    }
    *outAlert = nullptr;
    auto* a = new OpaqueDialogPtr;
    a->type = alertType;
    a->message = toolbox::ui::utf8FromCF(error);
    a->explanation = toolbox::ui::utf8FromCF(explanation);
    if (param == nullptr) {
        a->buttons.push_back({"OK", kAlertStdAlertOKButton});
    } else {
        // Every alert can be dismissed: without a default text it still gets "OK".
        a->buttons.push_back(
            {hasText(param->defaultText) ? buttonText(param->defaultText, "OK") : std::string("OK"),
             kAlertStdAlertOKButton});
        if (hasText(param->cancelText)) {
            a->buttons.push_back(
                {buttonText(param->cancelText, "Cancel"), kAlertStdAlertCancelButton});
        }
        if (hasText(param->otherText)) {
            a->buttons.push_back(
                {buttonText(param->otherText, "Don't Save"), kAlertStdAlertOtherButton});
        }
        if (param->helpButton) {
            a->buttons.push_back({"Help", kAlertStdAlertHelpButton});
        }
        auto exists = [&](SInt16 item) {
            for (const auto& b : a->buttons) {
                if (b.item == item) {
                    return true;
                }
            }
            return false;
        };
        a->defaultItem = exists(param->defaultButton) ? param->defaultButton
                                                      : DialogItemIndex(kAlertStdAlertOKButton);
        a->cancelItem = exists(param->cancelButton) ? param->cancelButton : DialogItemIndex(0);
    }
    *outAlert = a;
    return noErr;
}

OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP, DialogItemIndex* outItemHit) {
    if (inAlert == nullptr) {
        return paramErr;
    }
    toolbox::ui::testing::AlertRecord record;
    record.type = inAlert->type;
    record.message = inAlert->message;
    record.explanation = inAlert->explanation;
    for (const auto& b : inAlert->buttons) {
        record.buttons.push_back(b.text);
        record.items.push_back(b.item);
    }
    record.defaultItem = inAlert->defaultItem;
    record.cancelItem = inAlert->cancelItem;

    OSStatus result = noErr;
    DialogItemIndex item = inAlert->defaultItem;
    if (auto scripted = toolbox::ui::seam::takeAlertAnswer()) {
        item = *scripted;
    } else if (toolbox::ui::ensureQt()) {
        item = runOnScreen(*inAlert);
        record.onScreen = true;
    } else {
        // Nobody can be asked: the texts go where a user running the host can read them.
        std::fprintf(stderr, "[%s] %s\n%s\n", kindName(inAlert->type), inAlert->message.c_str(),
                     inAlert->explanation.c_str());
        std::fflush(stderr);
        result = noUserInteractionAllowed;
    }
    record.answer = item;
    toolbox::ui::seam::logAlert(std::move(record));
    if (outItemHit != nullptr) {
        *outItemHit = item;
    }
    delete inAlert;
    return result;
}

void ExitToShell() {
    std::fflush(nullptr);
    // Straight out: static destructors of a host with Qt threads running may hang or crash,
    // and a process that gives up must not look as if it succeeded.
    ::_exit(EXIT_FAILURE);
}

// ---- the presenter for code without windows ----------------------------------------------

namespace {

toolbox::cf::CFRef<CFStringRef> MacRomanString(std::string_view text) {
    return toolbox::cf::CFRef<CFStringRef>(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                CFIndex(text.size()), kCFStringEncodingMacRoman, false));
}

// The standard alerts: a stop alert with its one button, a caution alert with the texts'
// buttons. Without a display RunStandardAlert writes the texts to standard error.
SInt16 PresentStandardAlert(toolbox::AlertKind kind, std::string_view headline,
                            std::string_view description, std::string_view okText,
                            std::string_view cancelText) {
    const auto error = MacRomanString(headline);
    const auto explanation = MacRomanString(description);
    DialogRef alert = nullptr;
    if (kind == toolbox::AlertKind::stop) {
        CreateStandardAlert(kAlertStopAlert, error.get(), explanation.get(), nullptr, &alert);
    } else {
        const auto ok = MacRomanString(okText);
        const auto cancel = cancelText.empty() ? nullptr : MacRomanString(cancelText);
        AlertStdCFStringAlertParamRec param{};
        param.version = kStdCFStringAlertVersionOne;
        param.movable = true;
        param.helpButton = false;
        param.defaultText = ok.get();
        param.cancelText = cancel.get();
        param.otherText = nullptr;
        param.defaultButton = kAlertStdAlertOKButton;
        param.cancelButton = kAlertStdAlertCancelButton;
        param.position = kWindowDefaultPosition;
        param.flags = 0;
        CreateStandardAlert(kAlertCautionAlert, error.get(), explanation.get(), &param, &alert);
    }
    DialogItemIndex item = kAlertStdAlertOKButton;
    RunStandardAlert(alert, nullptr, &item);
    return item;
}

// Installed when the library is loaded, so that a plug-in's engine reaches these alerts
// without linking the windowing toolbox; the presenter it replaced comes back when the
// library goes.
struct InstallStandardAlertPresenter {
    InstallStandardAlertPresenter() : replaced(toolbox::SetAlertPresenter(PresentStandardAlert)) {}
    ~InstallStandardAlertPresenter() { toolbox::SetAlertPresenter(replaced); }
    toolbox::AlertPresenter replaced;
};
const InstallStandardAlertPresenter gInstallStandardAlertPresenter;

} // namespace
