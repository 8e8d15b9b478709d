#include "EditorHarness.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <cairo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace corvane::testhost {

namespace {
int errorCount = 0;
int countError(Display*, XErrorEvent*) {
    ++errorCount;
    return 0;
}

Display* dpy(void* d) {
    return static_cast<Display*>(d);
}
}  // namespace

// ---- Xvfb --------------------------------------------------------------------------------

Xvfb::Xvfb(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) return;
    char screen[64];
    std::snprintf(screen, sizeof screen, "%dx%dx24", width, height);
    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        return;
    }
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty()) return;
    display_ = std::atoi(number.c_str());
    setenv("DISPLAY", name().c_str(), 1);
}

std::string Xvfb::name() const {
    std::string n(1, ':');
    n.append(std::to_string(display_));
    return n;
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

// ---- the harness -------------------------------------------------------------------------

EditorHarness::EditorHarness(Plugin& plugin) : plugin_(plugin) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    display_ = d;
    XSetErrorHandler(countError);
    errorCount = 0;
}

EditorHarness::~EditorHarness() {
    if (open_) close();
    if (display_) {
        Display* d = dpy(display_);
        if (top_) XDestroyWindow(d, top_);
        if (dragSource_) XDestroyWindow(d, dragSource_);
        XSync(d, False);
        XCloseDisplay(d);
    }
}

int EditorHarness::errors() const {
    if (display_) XSync(dpy(display_), False);
    return errorCount;
}

bool EditorHarness::open() {
    if (!display_) return false;
    Display* d = dpy(display_);
    vst::ERect* rect = nullptr;
    plugin_.dispatch(vst::effEditGetRect, 0, 0, &rect);
    if (!rect) return false;
    width_ = rect->right - rect->left;
    height_ = rect->bottom - rect->top;
    if (!top_) {
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = BlackPixel(d, DefaultScreen(d));
        top_ = XCreateWindow(d, DefaultRootWindow(d), 0, 0, width_, height_, 0, CopyFromParent,
                             InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
        XMapRaised(d, top_);
        XSync(d, False);
    } else {
        XResizeWindow(d, top_, width_, height_);
        XSync(d, False);
    }
    open_ = plugin_.dispatch(vst::effEditOpen, 0, 0, reinterpret_cast<void*>(top_)) != 0;
    if (open_) idle(40);
    return open_;
}

void EditorHarness::close() {
    plugin_.dispatch(vst::effEditClose);
    open_ = false;
}

void EditorHarness::idle(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int rounds = 0;
    do {
        if (display_) {
            XSync(dpy(display_), False);
            serveSelection();
        }
        if (open_) plugin_.dispatch(vst::effEditIdle);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++rounds;
    } while (rounds < 2 || std::chrono::steady_clock::now() < until);
    // A size change asked for by the editor follows the host's top-level window.
    if (pluginAlive_ && display_ && top_ && plugin_.sizeWindow.first > 0 &&
        (plugin_.sizeWindow.first != width_ || plugin_.sizeWindow.second != height_)) {
        width_ = plugin_.sizeWindow.first;
        height_ = plugin_.sizeWindow.second;
        XResizeWindow(dpy(display_), top_, width_, height_);
        XSync(dpy(display_), False);
    }
}

void EditorHarness::move(int x, int y) {
    XTestFakeMotionEvent(dpy(display_), -1, x, y, CurrentTime);
    idle(15);
}

void EditorHarness::press(int button) {
    XTestFakeButtonEvent(dpy(display_), button, True, CurrentTime);
    idle(15);
}

void EditorHarness::release(int button) {
    XTestFakeButtonEvent(dpy(display_), button, False, CurrentTime);
    idle(15);
}

void EditorHarness::click(int x, int y, int button) {
    move(x, y);
    press(button);
    release(button);
    // A later click on the same place must not count as a double-click.
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    idle(5);
}

void EditorHarness::drag(int fromX, int fromY, int toX, int toY, int steps) {
    move(fromX, fromY);
    press(1);
    for (int i = 1; i <= steps; ++i)
        move(fromX + (toX - fromX) * i / steps, fromY + (toY - fromY) * i / steps);
    release(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(450));  // no double-click after
    idle(5);
}

void EditorHarness::scroll(int x, int y, int steps) {
    move(x, y);
    const int button = steps > 0 ? 4 : 5;
    for (int i = 0; i < std::abs(steps); ++i) {
        press(button);
        release(button);
    }
}

void EditorHarness::holdShift(bool down) {
    Display* d = dpy(display_);
    XTestFakeKeyEvent(d, XKeysymToKeycode(d, XK_Shift_L), down ? True : False, CurrentTime);
    idle(10);
}

void EditorHarness::key(const char* keysymName) {
    Display* d = dpy(display_);
    const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(keysymName));
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    idle(10);
}

void EditorHarness::type(const std::string& text) {
    Display* d = dpy(display_);
    for (char c : text) {
        char single[2] = {c, 0};
        const char* name = single;
        switch (c) {
            case '.':
                name = "period";
                break;
            case '/':
                name = "slash";
                break;
            case '-':
                name = "minus";
                break;
            case '_':
                name = "underscore";
                break;
            case ':':
                name = "colon";
                break;
            case ' ':
                name = "space";
                break;
            default:
                break;
        }
        const KeySym sym = XStringToKeysym(name);
        const KeyCode code = XKeysymToKeycode(d, sym);
        if (!code) continue;
        const bool shift = XkbKeycodeToKeysym(d, code, 0, 0) != sym;
        const KeyCode shiftCode = XKeysymToKeycode(d, XK_Shift_L);
        if (shift) XTestFakeKeyEvent(d, shiftCode, True, CurrentTime);
        XTestFakeKeyEvent(d, code, True, CurrentTime);
        XTestFakeKeyEvent(d, code, False, CurrentTime);
        if (shift) XTestFakeKeyEvent(d, shiftCode, False, CurrentTime);
        idle(4);
    }
    idle(10);
}

// ---- XDND as a drag source ---------------------------------------------------------------

bool EditorHarness::dropFile(const std::string& path) {
    Display* d = dpy(display_);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, top_, &root, &parent, &children, &count) || count == 0) return false;
    const Window target = children[0];
    XFree(children);
    if (!dragSource_)
        dragSource_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    const Atom selection = XInternAtom(d, "XdndSelection", False);
    const Atom uriList = XInternAtom(d, "text/uri-list", False);
    const Atom copy = XInternAtom(d, "XdndActionCopy", False);
    XSetSelectionOwner(d, selection, dragSource_, CurrentTime);
    dropUri_.assign("file://");
    dropUri_.append(path);
    dropUri_.append("\r\n");
    auto send = [&](const char* type, long l1, long l2, long l3, long l4) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.display = d;
        e.xclient.window = target;
        e.xclient.message_type = XInternAtom(d, type, False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(dragSource_);
        e.xclient.data.l[1] = l1;
        e.xclient.data.l[2] = l2;
        e.xclient.data.l[3] = l3;
        e.xclient.data.l[4] = l4;
        XSendEvent(d, target, False, NoEventMask, &e);
        XSync(d, False);
    };
    send("XdndEnter", 5L << 24, static_cast<long>(uriList), 0, 0);
    idle(10);
    send("XdndPosition", 0, (width_ / 2L << 16) | (height_ / 2L), CurrentTime,
         static_cast<long>(copy));
    idle(10);
    send("XdndDrop", 0, CurrentTime, 0, 0);
    idle(200);
    return true;
}

void EditorHarness::serveSelection() {
    Display* d = dpy(display_);
    while (XPending(d)) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type != SelectionRequest) continue;
        XSelectionRequestEvent& r = e.xselectionrequest;
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.display = d;
        reply.xselection.requestor = r.requestor;
        reply.xselection.selection = r.selection;
        reply.xselection.target = r.target;
        reply.xselection.time = r.time;
        reply.xselection.property = r.property;
        XChangeProperty(d, r.requestor, r.property, r.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(dropUri_.data()),
                        static_cast<int>(dropUri_.size()));
        XSendEvent(d, r.requestor, False, NoEventMask, &reply);
        XFlush(d);
    }
}

// ---- pixels ------------------------------------------------------------------------------

std::vector<Rgb> EditorHarness::grab(int x, int y, int w, int h) {
    std::vector<Rgb> out;
    Display* d = dpy(display_);
    XSync(d, False);
    XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, w, h, AllPlanes, ZPixmap);
    if (!image) return out;
    out.reserve(size_t(w) * h);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const unsigned long p = XGetPixel(image, i, j);
            out.push_back({static_cast<uint8_t>((p >> 16) & 0xFF),
                           static_cast<uint8_t>((p >> 8) & 0xFF), static_cast<uint8_t>(p & 0xFF)});
        }
    XDestroyImage(image);
    return out;
}

Rgb EditorHarness::pixel(int x, int y) {
    const std::vector<Rgb> p = grab(x, y, 1, 1);
    return p.empty() ? Rgb{} : p[0];
}

bool EditorHarness::savePng(const std::string& path) {
    const std::vector<Rgb> pixels = grab(0, 0, width_, height_);
    if (pixels.empty()) return false;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int j = 0; j < height_; ++j)
        for (int i = 0; i < width_; ++i) {
            const Rgb& p = pixels[size_t(j) * width_ + i];
            uint32_t* px = reinterpret_cast<uint32_t*>(data + j * stride) + i;
            *px = (uint32_t{p.r} << 16) | (uint32_t{p.g} << 8) | p.b;
        }
    cairo_surface_mark_dirty(s);
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

}  // namespace corvane::testhost
