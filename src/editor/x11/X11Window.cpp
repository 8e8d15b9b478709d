#include "editor/x11/X11Window.h"

#include "editor/UriList.h"
#include "net/News.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo-xlib.h>
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace corvane::editor {

namespace x11 {
namespace {

// ---- cairo canvas ------------------------------------------------------------------------

class CairoCanvas final : public Canvas {
  public:
    explicit CairoCanvas(cairo_t* cr) : cr_(cr) {
        cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                               CAIRO_FONT_WEIGHT_NORMAL);
    }
    void setColor(const Color& c) override { cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a); }
    void fillRect(double x, double y, double w, double h) override {
        cairo_rectangle(cr_, x, y, w, h);
        cairo_fill(cr_);
    }
    void fillRoundRect(double x, double y, double w, double h, double r) override {
        if (r * 2 > w) r = w / 2;
        if (r * 2 > h) r = h / 2;
        cairo_new_sub_path(cr_);
        cairo_arc(cr_, x + w - r, y + r, r, -M_PI / 2, 0);
        cairo_arc(cr_, x + w - r, y + h - r, r, 0, M_PI / 2);
        cairo_arc(cr_, x + r, y + h - r, r, M_PI / 2, M_PI);
        cairo_arc(cr_, x + r, y + r, r, M_PI, 3 * M_PI / 2);
        cairo_close_path(cr_);
        cairo_fill(cr_);
    }
    void strokeRect(double x, double y, double w, double h, double lw) override {
        cairo_set_line_width(cr_, lw);
        cairo_rectangle(cr_, x + lw / 2, y + lw / 2, w - lw, h - lw);
        cairo_stroke(cr_);
    }
    void line(double x1, double y1, double x2, double y2, double lw) override {
        cairo_set_line_width(cr_, lw);
        cairo_move_to(cr_, x1, y1);
        cairo_line_to(cr_, x2, y2);
        cairo_stroke(cr_);
    }
    void arc(double cx, double cy, double r, double from, double to, double lw) override {
        cairo_set_line_width(cr_, lw);
        cairo_new_sub_path(cr_);
        cairo_arc(cr_, cx, cy, r, from, to);
        cairo_stroke(cr_);
    }
    void fillCircle(double cx, double cy, double r) override {
        cairo_new_sub_path(cr_);
        cairo_arc(cr_, cx, cy, r, 0, 2 * M_PI);
        cairo_fill(cr_);
    }
    void text(double x, double y, const char* s, double size, Align align, bool bold) override {
        font(size, bold);
        double w = 0;
        if (align != Align::left) w = extent(s);
        if (align == Align::center) x -= w / 2;
        if (align == Align::right) x -= w;
        cairo_move_to(cr_, x, y);
        cairo_show_text(cr_, utf8(s).c_str());
    }
    double textWidth(const char* s, double size, bool bold) override {
        font(size, bold);
        return extent(s);
    }
    void clip(double x, double y, double w, double h) override {
        cairo_reset_clip(cr_);
        cairo_rectangle(cr_, x, y, w, h);
        cairo_clip(cr_);
    }
    void resetClip() override { cairo_reset_clip(cr_); }
    void scale(double s) override { cairo_scale(cr_, s, s); }

  private:
    void font(double size, bool bold) {
        cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                               bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr_, size);
    }
    double extent(const char* s) {
        cairo_text_extents_t e;
        cairo_text_extents(cr_, utf8(s).c_str(), &e);
        return e.x_advance;
    }
    // Names and paths are bytes; text that is not UTF-8 would put the cairo context in an
    // error state that stops all further drawing, so invalid bytes become U+FFFD first.
    static std::string utf8(const char* s) { return net::toDisplayText(s ? s : ""); }
    cairo_t* cr_;
};

// ---- X errors ----------------------------------------------------------------------------

// X reports errors through one process-wide handler. While the editor makes a call that can
// fail on a window it does not own (the host's parent), a handler that only records the
// error is put in place and the host's own handler restored afterwards.
int lastError = 0;
int recordError(Display*, XErrorEvent* e) {
    lastError = e->error_code;
    return 0;
}

class ErrorTrap {
  public:
    explicit ErrorTrap(Display* d) : display_(d) {
        XSync(display_, False);
        lastError = 0;
        previous_ = XSetErrorHandler(recordError);
    }
    ~ErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    int error() {
        XSync(display_, False);
        return lastError;
    }

  private:
    Display* display_;
    int (*previous_)(Display*, XErrorEvent*) = nullptr;
};

// ---- the window --------------------------------------------------------------------------

unsigned modifiersOf(unsigned state) {
    unsigned m = 0;
    if (state & ShiftMask) m |= kShift;
    if (state & ControlMask) m |= kControl;
    if (state & Mod1Mask) m |= kAlt;
    return m;
}

class X11Window final : public NativeWindow {
  public:
    X11Window(unsigned long parent, int width, int height, WindowClient& client)
        : client_(client), width_(width), height_(height) {
        display_ = XOpenDisplay(nullptr);
        if (!display_) return;
        {
            ErrorTrap trap(display_);
            XSetWindowAttributes a{};
            a.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                           KeyPressMask | StructureNotifyMask | LeaveWindowMask;
            a.background_pixel = BlackPixel(display_, DefaultScreen(display_));
            window_ = XCreateWindow(display_, static_cast<Window>(parent), 0, 0, width, height, 0,
                                    CopyFromParent, InputOutput, CopyFromParent,
                                    CWEventMask | CWBackPixel, &a);
            if (trap.error() != 0) window_ = 0;
        }
        if (!window_) return;
        atoms();
        const long version = 5;
        XChangeProperty(display_, window_, xdndAware_, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&version), 1);
        XMapWindow(display_, window_);
        XFlush(display_);
        makeSurfaces();
    }

    ~X11Window() override {
        if (back_) cairo_surface_destroy(back_);
        if (front_) cairo_surface_destroy(front_);
        if (display_) {
            if (window_) XDestroyWindow(display_, window_);
            XSync(display_, False);
            XCloseDisplay(display_);
        }
    }

    bool ok() const override { return display_ && window_ && back_ && front_; }

    void invalidate() override { dirty_ = true; }

    void resize(int width, int height) override {
        if (!ok() || (width == width_ && height == height_)) return;
        width_ = width;
        height_ = height;
        XResizeWindow(display_, window_, width, height);
        cairo_surface_destroy(back_);
        cairo_surface_destroy(front_);
        back_ = front_ = nullptr;
        makeSurfaces();
        dirty_ = true;
    }

    void pump() override {
        if (!ok()) return;
        while (XPending(display_)) {
            XEvent e;
            XNextEvent(display_, &e);
            handle(e);
        }
        if (dirty_) paint();
    }

  private:
    void atoms() {
        xdndAware_ = XInternAtom(display_, "XdndAware", False);
        xdndEnter_ = XInternAtom(display_, "XdndEnter", False);
        xdndPosition_ = XInternAtom(display_, "XdndPosition", False);
        xdndStatus_ = XInternAtom(display_, "XdndStatus", False);
        xdndDrop_ = XInternAtom(display_, "XdndDrop", False);
        xdndLeave_ = XInternAtom(display_, "XdndLeave", False);
        xdndFinished_ = XInternAtom(display_, "XdndFinished", False);
        xdndSelection_ = XInternAtom(display_, "XdndSelection", False);
        xdndActionCopy_ = XInternAtom(display_, "XdndActionCopy", False);
        uriList_ = XInternAtom(display_, "text/uri-list", False);
        dropProperty_ = XInternAtom(display_, "CORVANE_DROP", False);
    }

    void makeSurfaces() {
        Visual* visual = DefaultVisual(display_, DefaultScreen(display_));
        front_ = cairo_xlib_surface_create(display_, window_, visual, width_, height_);
        back_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_);
        if (cairo_surface_status(front_) != CAIRO_STATUS_SUCCESS ||
            cairo_surface_status(back_) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(front_);
            cairo_surface_destroy(back_);
            front_ = back_ = nullptr;
        }
    }

    void paint() {
        dirty_ = false;
        cairo_t* cr = cairo_create(back_);
        {
            CairoCanvas canvas(cr);
            client_.paint(canvas);
        }
        cairo_destroy(cr);
        cairo_surface_flush(back_);
        cairo_t* out = cairo_create(front_);
        cairo_set_source_surface(out, back_, 0, 0);
        cairo_set_operator(out, CAIRO_OPERATOR_SOURCE);
        cairo_paint(out);
        cairo_destroy(out);
        cairo_surface_flush(front_);
        XFlush(display_);
    }

    MouseEvent mouse(int x, int y, unsigned state, unsigned button, Time t) {
        MouseEvent m;
        m.x = x;
        m.y = y;
        m.button = static_cast<int>(button);
        m.modifiers = modifiersOf(state);
        m.timeMs = static_cast<uint32_t>(t);
        return m;
    }

    void handle(XEvent& e) {
        if (e.xany.window != window_) return;
        switch (e.type) {
            case Expose:
                if (e.xexpose.count == 0) dirty_ = true;
                break;
            case ButtonPress: {
                const unsigned b = e.xbutton.button;
                MouseEvent m = mouse(e.xbutton.x, e.xbutton.y, e.xbutton.state, b, e.xbutton.time);
                if (b == 4 || b == 5) {
                    client_.wheel(m, b == 4 ? 1.0 : -1.0);
                } else if (b >= 1 && b <= 3) {
                    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
                    client_.mouseDown(m);
                }
                break;
            }
            case ButtonRelease: {
                const unsigned b = e.xbutton.button;
                if (b >= 1 && b <= 3)
                    client_.mouseUp(
                        mouse(e.xbutton.x, e.xbutton.y, e.xbutton.state, b, e.xbutton.time));
                break;
            }
            case MotionNotify: {
                // Only the newest position of a burst matters.
                while (XCheckTypedWindowEvent(display_, window_, MotionNotify, &e)) {
                }
                client_.mouseMove(
                    mouse(e.xmotion.x, e.xmotion.y, e.xmotion.state, 0, e.xmotion.time));
                break;
            }
            case LeaveNotify:
                client_.mouseLeft();
                break;
            case KeyPress:
                key(e.xkey);
                break;
            case ClientMessage:
                dnd(e.xclient);
                break;
            case SelectionNotify:
                dropArrived(e.xselection);
                break;
            default:
                break;
        }
    }

    void key(XKeyEvent& k) {
        char text[16] = {};
        KeySym sym = 0;
        const int n = XLookupString(&k, text, sizeof text - 1, &sym, nullptr);
        text[n > 0 ? n : 0] = 0;
        Key key = Key::none;
        switch (sym) {
            case XK_Left:
                key = Key::left;
                break;
            case XK_Right:
                key = Key::right;
                break;
            case XK_Up:
                key = Key::up;
                break;
            case XK_Down:
                key = Key::down;
                break;
            case XK_Page_Up:
                key = Key::pageUp;
                break;
            case XK_Page_Down:
                key = Key::pageDown;
                break;
            case XK_Home:
                key = Key::home;
                break;
            case XK_End:
                key = Key::end;
                break;
            case XK_Tab:
            case XK_ISO_Left_Tab:
                key = Key::tab;
                break;
            case XK_Return:
            case XK_KP_Enter:
                key = Key::enter;
                break;
            case XK_Escape:
                key = Key::escape;
                break;
            case XK_BackSpace:
                key = Key::backspace;
                break;
            case XK_Delete:
                key = Key::del;
                break;
            default:
                if (n > 0 && static_cast<unsigned char>(text[0]) >= 32) key = Key::character;
                break;
        }
        if (key != Key::none) client_.keyDown(key, text, modifiersOf(k.state));
    }

    // XDND, version 5: accept copies of text/uri-list and hand the first local file over.
    void dnd(XClientMessageEvent& m) {
        if (m.message_type == xdndEnter_) {
            dndSource_ = static_cast<Window>(m.data.l[0]);
        } else if (m.message_type == xdndPosition_) {
            dndSource_ = static_cast<Window>(m.data.l[0]);
            reply(xdndStatus_, 1, xdndActionCopy_);
        } else if (m.message_type == xdndLeave_) {
            dndSource_ = 0;
        } else if (m.message_type == xdndDrop_) {
            dndSource_ = static_cast<Window>(m.data.l[0]);
            XConvertSelection(display_, xdndSelection_, uriList_, dropProperty_, window_,
                              static_cast<Time>(m.data.l[2]));
            XFlush(display_);
        }
    }

    void reply(Atom type, long accepted, Atom action) {
        if (!dndSource_) return;
        XEvent r{};
        r.xclient.type = ClientMessage;
        r.xclient.display = display_;
        r.xclient.window = dndSource_;
        r.xclient.message_type = type;
        r.xclient.format = 32;
        r.xclient.data.l[0] = static_cast<long>(window_);
        r.xclient.data.l[1] = accepted;
        r.xclient.data.l[4] = static_cast<long>(action);
        if (type == xdndFinished_) r.xclient.data.l[2] = accepted ? static_cast<long>(action) : 0;
        ErrorTrap trap(display_);  // the source may be gone already
        XSendEvent(display_, dndSource_, False, NoEventMask, &r);
    }

    void dropArrived(XSelectionEvent& s) {
        std::string path;
        if (s.property == dropProperty_) {
            Atom type = 0;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display_, window_, dropProperty_, 0, 65536, True,
                                   AnyPropertyType, &type, &format, &count, &after,
                                   &data) == Success &&
                data) {
                if (format == 8) path = firstPathOfUriList(reinterpret_cast<char*>(data), count);
                XFree(data);
            }
        }
        reply(xdndFinished_, path.empty() ? 0 : 1, xdndActionCopy_);
        dndSource_ = 0;
        if (!path.empty()) client_.fileDropped(path.c_str());
    }

    WindowClient& client_;
    Display* display_ = nullptr;
    Window window_ = 0;
    int width_, height_;
    cairo_surface_t* front_ = nullptr;
    cairo_surface_t* back_ = nullptr;
    bool dirty_ = true;
    Window dndSource_ = 0;
    Atom xdndAware_ = 0, xdndEnter_ = 0, xdndPosition_ = 0, xdndStatus_ = 0, xdndDrop_ = 0,
         xdndLeave_ = 0, xdndFinished_ = 0, xdndSelection_ = 0, xdndActionCopy_ = 0, uriList_ = 0,
         dropProperty_ = 0;
};

}  // namespace

std::unique_ptr<NativeWindow> createWindow(unsigned long parent, int width, int height,
                                           WindowClient& client) {
    auto w = std::make_unique<X11Window>(parent, width, height, client);
    if (!w->ok()) return nullptr;
    return w;
}

}  // namespace x11

std::unique_ptr<NativeWindow> createNativeWindow(void* parent, int width, int height,
                                                 WindowClient& client) {
    return x11::createWindow(reinterpret_cast<uintptr_t>(parent), width, height, client);
}

}  // namespace corvane::editor
