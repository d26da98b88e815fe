// CorePrivate.h - what the core's QuickDraw and Core Graphics modules share and nobody
// else sees: the "Core Graphics drawing in progress" mark of a port.
//
// Promises: QDPortCGActive answers for a live GWorld only; it is cleared with the GWorld.
#pragma once

#include "QuickDraw.h"

namespace toolbox::detail {

// The mark set by QDBeginCGContext and cleared by QDEndCGContext; nil port gives nil.
bool* QDPortCGActive(CGrafPtr port);

} // namespace toolbox::detail
