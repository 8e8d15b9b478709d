#pragma once
// Keeps what a loaded plug-in writes to this process's stderr (a console host's "CAPTION:
// TEXT" lines) in a temporary file, so that the tool can read it, judge it and show it
// again. The tool's own lines go to the real stderr through console().
#include <cstdio>
#include <string>

namespace corvane::render {

class StderrCapture {
  public:
    // Starts capturing; when the system gives no temporary file, nothing is captured and
    // stderr stays as it was.
    StderrCapture();
    // Stops capturing and writes anything not yet taken to the real stderr.
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    bool active() const { return file_ != nullptr; }
    // Where the tool's own messages go while capturing (stderr when not capturing).
    std::FILE* console() const { return console_ ? console_ : stderr; }
    // Everything written to stderr since the last call.
    std::string take();

  private:
    std::FILE* file_ = nullptr;     // the temporary file; fd 2 refers to it while capturing
    std::FILE* console_ = nullptr;  // the real stderr, on a copy of its descriptor
    int savedFd_ = -1;
    long readTo_ = 0;
};

}  // namespace corvane::render
