// LaunchServices.h - opening a document with the user's default application.
//
// Promises: LSOpenFSRef starts `xdg-open <path>` (found on PATH) and reports what it says:
// noErr only when xdg-open ran and exited with status 0, or is still running after a short
// wait (a viewer that stays in the foreground). kLSApplicationNotFoundErr when xdg-open is
// missing or finds no application, fnfErr when it says the file does not exist,
// kLSLaunchFailedErr for any other failure. The child starts with the default signal
// dispositions and mask and with standard input from /dev/null; every child is reaped (one
// still running is collected by a later call). The scripted-user seam
// (ToolboxUITesting.h) can give the result instead of starting anything.
#pragma once

#include "Files.h"
#include "MacTypes.h"

enum : OSStatus {
    kLSApplicationNotFoundErr = -10814,
    kLSUnknownErr = -10810,
    kLSLaunchFailedErr = -10810,
};

// outLaunchedRef must be nil (which application was used is not known here).
OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef);
