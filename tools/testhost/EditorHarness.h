#pragma once
// Drives a plug-in's editor the way a person at an X11 desktop would: a private Xvfb
// server, a top-level window that hosts the editor, the host's idle calls, pointer and
// keys through XTest, file drops through XDND, and pixels read back from the screen.
#include <cstdint>
#include <string>
#include <vector>

#include "TestHost.h"

namespace corvane::testhost {

// A virtual X server for this process: started by the constructor (DISPLAY is set to it),
// stopped by the destructor.
class Xvfb {
  public:
    Xvfb(int width = 1280, int height = 800);
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
    bool ok() const { return display_ >= 0; }
    std::string name() const;

  private:
    int pid_ = -1;
    int display_ = -1;
};

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

class EditorHarness {
  public:
    explicit EditorHarness(Plugin& plugin);
    ~EditorHarness();
    EditorHarness(const EditorHarness&) = delete;
    EditorHarness& operator=(const EditorHarness&) = delete;

    bool ok() const { return display_ != nullptr; }
    // effEditGetRect, then effEditOpen with the top-level window; false when refused.
    bool open();
    void close();  // effEditClose
    // The plug-in was deleted with its window open: nothing more is sent to it.
    void pluginGone() {
        open_ = false;
        pluginAlive_ = false;
    }
    int width() const { return width_; }
    int height() const { return height_; }
    unsigned long topWindow() const { return top_; }

    // Calls effEditIdle for about `ms` milliseconds (at least twice).
    void idle(int ms = 30);

    void move(int x, int y);
    void press(int button = 1);
    void release(int button = 1);
    void click(int x, int y, int button = 1);
    void drag(int fromX, int fromY, int toX, int toY, int steps = 8);
    void scroll(int x, int y, int steps);  // positive: away from the user
    void holdShift(bool down);
    // Types text of letters, digits and . / - _ : and space; then Enter when asked.
    void type(const std::string& text);
    void key(const char* keysymName);

    // Drops a local file on the editor window as a file manager would (XDND).
    bool dropFile(const std::string& path);

    Rgb pixel(int x, int y);
    // The window's pixels, row by row.
    std::vector<Rgb> grab(int x, int y, int w, int h);
    bool savePng(const std::string& path);

    // The X errors this harness's connection saw.
    int errors() const;

  private:
    void serveSelection();
    Plugin& plugin_;
    void* display_ = nullptr;
    unsigned long top_ = 0;
    unsigned long dragSource_ = 0;
    std::string dropUri_;
    int width_ = 0, height_ = 0;
    bool open_ = false;
    bool pluginAlive_ = true;
};

}  // namespace corvane::testhost
