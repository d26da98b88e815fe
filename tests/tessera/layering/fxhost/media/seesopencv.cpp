// A host file that reaches for the analysis module's library: refused.
#include <opencv2/core.hpp>
