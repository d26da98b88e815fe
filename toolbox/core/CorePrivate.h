// CorePrivate.h - what the core's QuickDraw and Core Graphics modules share and nobody
// else sees: which Core Graphics context is drawing on a port.
//
// Promises: QDPortCGContext answers for a live GWorld only. A GWorld disposed of while a
// context is drawing on it detaches that context first, so the context can never write
// into freed pixels (it is left drawing nowhere).
#pragma once

#include "QuickDraw.h"

struct CGContext;

namespace toolbox::detail {

// The slot set by QDBeginCGContext and cleared by QDEndCGContext; nil for a port that is
// nil or no longer alive.
CGContext** QDPortCGContext(CGrafPtr port);

// Makes the context draw nowhere from now on (its pixels are going away).
void CGDetachContext(CGContext* context);

} // namespace toolbox::detail
