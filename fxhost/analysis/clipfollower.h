// clipfollower.h - one subject followed through a whole clip, both ways from one frame.
//
// Owns: FollowThroughClip. Promises: one step per frame of the clip, in frame order; the
// given frame's step is the box given (with the follower's margin), the later frames are
// followed forward from it and the earlier ones backward, each direction with a follower
// of its own. Memory stays bounded for any clip length: the backward pass decodes the clip
// in short runs and follows each run from its end.
#pragma once

#include "framereader.h"
#include "regionfollower.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace fxhost::analysis {

// `onFrame` is called once per frame followed (for progress; it may throw to stop).
std::vector<FollowStep> FollowThroughClip(FrameReader& reader, std::int64_t start,
                                          const cv::Rect2d& box, FollowerKind kind,
                                          const std::function<void()>& onFrame);

} // namespace fxhost::analysis
