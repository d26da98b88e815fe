// hosterror.h - how fxhost reports a failure.
//
// Owns: HostError, the one exception type of the host, and the exit status each kind of
// failure maps to. Promises: every failure the user can cause carries one line of text
// that names what failed, fit to print as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace fxhost {

// Exit statuses of the fxhost command, one per kind of failure (documented in
// fxhost/README.md).
enum class ErrorKind {
    Internal = 1,     // a fault of fxhost itself
    Usage = 2,        // bad command line
    Input = 3,        // missing, unreadable or undecodable input; no video stream
    Plugin = 4,       // the bundle is missing, has no Info.plist or no `main`
    PluginResult = 5, // the plug-in returned a result code other than OK
    Output = 6,       // the output cannot be encoded or written, or exists without -y
    Unsupported = 7,  // a feature that is not available yet
    Incomplete = 8,   // the input ended early: the output holds the frames it had
    Review = 9,       // the output is complete, but some frames need a person to look at them
    Interrupted = 130 // Ctrl-C (128 + the signal for the others that end a render)
};

class HostError : public std::runtime_error {
  public:
    HostError(ErrorKind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    ErrorKind kind() const { return kind_; }
    int exitStatus() const { return static_cast<int>(kind_); }

  private:
    ErrorKind kind_;
};

} // namespace fxhost
