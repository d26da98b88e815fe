// CorePrivate.h - what the core's QuickDraw and Core Graphics modules share and nobody
// else sees: which Core Graphics context is drawing on a port, and the sets of live objects.
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

#include <mutex>
#include <unordered_set>

namespace toolbox::detail {

// The addresses of the objects of one kind that are alive. A stale or foreign pointer is
// recognised by looking it up here, never by reading the memory it points at (which may be
// freed). Safe to use from several threads.
class LiveSet {
  public:
    // False when the set cannot grow (out of memory): the object must not be handed out.
    bool add(const void* object) noexcept {
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            return objects_.insert(object).second;
        } catch (...) {
            return false;
        }
    }
    // False when the object was not alive.
    bool remove(const void* object) noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return objects_.erase(object) != 0;
    }
    bool contains(const void* object) const noexcept {
        std::lock_guard<std::mutex> lock(mutex_);
        return objects_.count(object) != 0;
    }

  private:
    mutable std::mutex mutex_;
    std::unordered_set<const void*> objects_;
};

} // namespace toolbox::detail
