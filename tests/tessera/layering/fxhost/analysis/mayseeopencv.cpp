// The analysis module may include OpenCV: not refused.
#include <opencv2/core.hpp>
