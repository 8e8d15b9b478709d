#pragma once
// The drawing surface the editor paints on. Every control is vector graphics drawn through
// this interface; a window-system backend supplies the implementation.
#include <cstdint>

namespace corvane::editor {

struct Color {
    double r = 0, g = 0, b = 0, a = 1;
};

enum class Align { left, center, right };

class Canvas {
  public:
    virtual ~Canvas() = default;
    virtual void setColor(const Color& c) = 0;
    virtual void fillRect(double x, double y, double w, double h) = 0;
    virtual void fillRoundRect(double x, double y, double w, double h, double radius) = 0;
    virtual void strokeRect(double x, double y, double w, double h, double lineWidth) = 0;
    virtual void line(double x1, double y1, double x2, double y2, double lineWidth) = 0;
    // An arc stroked around (cx, cy), angles in radians clockwise from the positive x axis.
    virtual void arc(double cx, double cy, double r, double from, double to, double lineWidth) = 0;
    virtual void fillCircle(double cx, double cy, double r) = 0;
    // Text in the editor's font (DejaVu Sans), its baseline at y.
    virtual void text(double x, double y, const char* s, double size, Align align = Align::left,
                      bool bold = false) = 0;
    virtual double textWidth(const char* s, double size, bool bold = false) = 0;
    virtual void clip(double x, double y, double w, double h) = 0;
    virtual void resetClip() = 0;
    // Multiplies every later coordinate by s (the editor's zoom).
    virtual void scale(double s) = 0;
};

}  // namespace corvane::editor
