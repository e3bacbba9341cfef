// Drawing contexts over cairo: bitmap contexts in pixels and image contexts in points at a scale,
// with the y axis pointing down from the top left. Paths, fills, strokes, clipping, dashes,
// transforms, saved states, linear gradients, blurred shadows, transparency layers, blend modes and
// images (drawn upright by their orientation, stretched by their cap insets). A context belongs to
// the thread that uses it; each thread has its own stack of current contexts.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/graphics/bitmap.h"
#include "platform/graphics/color.h"
#include "platform/graphics/geometry.h"
#include "platform/graphics/image.h"
#include "platform/graphics/path.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;
typedef struct _cairo_pattern cairo_pattern_t;

namespace graphics {

struct ResampledPiece;
struct WholePictureKey;

enum class BlendMode {
    normal,
    multiply,
    screen,
    overlay,
    darken,
    lighten,
    colorDodge,
    colorBurn,
    softLight,
    hardLight,
    difference,
    exclusion,
    hue,
    saturation,
    color,
    luminosity,
    clear,
    copy,
    sourceIn,
    sourceOut,
    sourceAtop,
    destinationOver,
    destinationIn,
    destinationOut,
    destinationAtop,
    xorMode,
    plusLighter
};

enum class LineCap { butt, round, square };
enum class LineJoin { miter, round, bevel };
enum class PathDrawingMode { fill, evenOddFill, stroke, fillStroke, evenOddFillStroke };

struct Gradient {
    std::vector<Color> colors;
    // 0-1, one per colour; empty spreads the colours evenly.
    std::vector<double> locations;
};

class GraphicsContext {
public:
    // A context over a new transparent bitmap, one unit per pixel.
    static foundation::Result<std::unique_ptr<GraphicsContext>> bitmap(int pixelWidth, int pixelHeight);
    // A context of `size` points at `scale` pixels per point (0: the main screen's scale); opaque
    // contexts start black, the others transparent. The pixel size is the point size times the
    // scale, rounded up.
    static foundation::Result<std::unique_ptr<GraphicsContext>> image(Size size, bool opaque, double scale);
    ~GraphicsContext();
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    Size size() const { return size_; }
    double scale() const { return scale_; }
    int pixelWidth() const { return bitmap_->width(); }
    int pixelHeight() const { return bitmap_->height(); }

    // Dynamic colours resolve for this appearance (light by default).
    void setUserInterfaceStyle(UserInterfaceStyle style) { style_ = style; }
    UserInterfaceStyle userInterfaceStyle() const { return style_; }

    void save();
    void restore();
    void translate(double tx, double ty);
    void scaleBy(double sx, double sy);
    void rotate(double radians);
    void concat(const AffineTransform& t);
    // The current transform from user space to pixels.
    AffineTransform ctm() const;

    void setFillColor(const Color& color);
    void setStrokeColor(const Color& color);
    void setLineWidth(double width);
    void setLineCap(LineCap cap);
    void setLineJoin(LineJoin join);
    void setMiterLimit(double limit);
    // No lengths: solid lines.
    void setLineDash(double phase, const std::vector<double>& lengths);
    void setAlpha(double alpha);
    void setBlendMode(BlendMode mode);
    // Blur is the shadow's softness in points (0: a hard shadow); no colour: black at 1/3 alpha.
    void setShadow(Size offset, double blur, std::optional<Color> color = std::nullopt);
    void clearShadow();

    // The current path, consumed by fill, stroke and clip.
    void beginPath();
    void addPath(const Path& path);
    void moveTo(Point p);
    void lineTo(Point p);
    void curveTo(Point c1, Point c2, Point end);
    void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
    void addRect(const Rect& r);
    void addEllipse(const Rect& in);
    void closePath();
    std::optional<Point> currentPoint() const { return path_.currentPoint(); }

    void fillPath(FillRule rule = FillRule::winding);
    void strokePath();
    void drawPath(PathDrawingMode mode);
    // Narrows the clip to the current path.
    void clip(FillRule rule = FillRule::winding);
    void clipToRect(const Rect& r);
    // The smallest rectangle in user space that holds the current clip (drawing outside it shows
    // nothing, so callers may skip it).
    Rect clipBoundingBox() const;
    void fillRect(const Rect& r);
    void strokeRect(const Rect& r);
    void fillEllipse(const Rect& in);
    // Makes the rectangle transparent, whatever the blend mode.
    void clearRect(const Rect& r);

    // Fills the clip with a gradient along the line from start to end; past the ends nothing is
    // drawn unless asked.
    void drawLinearGradient(const Gradient& gradient, Point start, Point end, bool drawsBeforeStart = false,
                            bool drawsAfterEnd = false);

    // Drawing between begin and end is composed as one picture, then drawn with the alpha, blend
    // mode and shadow in force at begin.
    void beginTransparencyLayer();
    // The same, for drawing known to stay within the rectangle (user space): the picture is only
    // as big as the whole pixels the rectangle touches, not the whole clip.
    void beginTransparencyLayer(const Rect& extent);
    void endTransparencyLayer();
    // What `draw` draws, as between begin and end: where the clip is whole pixels the layer's
    // pixels and its shadow's coverage lie in memory the thread keeps (a layer a frame, such as a
    // shadowed line of text, would otherwise take and clear new pages each time).
    void drawInLayer(const std::function<void()>& draw);

    // The image upright (its orientation applied) in the rectangle; a resizable image keeps its
    // caps and stretches or tiles the rest; an image with a tint colour draws its shape in the tint.
    void drawImage(const Image& image, const Rect& rect);
    void drawImage(const Image& image, const Rect& rect, BlendMode mode, double alpha);
    void drawImage(const Image& image, Point at);
    // The stored pixels as they are (no orientation), filling the rectangle.
    void drawBitmap(const Bitmap& bitmap, const Rect& rect);

    // The plain opaque colour every pixel of the rectangle (user space) holds now, nothing drawn
    // over it since it was filled there. It goes with the saved state, and a transparency layer
    // starts without it; that nothing else is drawn there while it is in force is the caller's to
    // know. A stretched picture drawn whole over it (at any alpha, normal blend, no shadow) is then
    // composed over that colour once at its size and copied, opaque, where it would be blended on
    // every drawing: the pixels blending it there gives, at the cost of a copy.
    void setKnownBackdrop(const Color& color, const Rect& rect);

    // The pixels drawn so far, as an image at the context's scale; and as a bitmap.
    ImagePtr makeImage() const;
    std::shared_ptr<Bitmap> copyBitmap() const;
    const Bitmap& pixels() const;
    // The same from a context that is done drawing, which goes with the call: its pixels are
    // handed over rather than copied (a picture of the whole screen is megabytes).
    static std::shared_ptr<Bitmap> finishBitmap(std::unique_ptr<GraphicsContext> context);
    static ImagePtr finishImage(std::unique_ptr<GraphicsContext> context);

    // For the text code of this library, which draws with pango on the same cairo context.
    cairo_t* cairo() const { return cr_; }

private:
    GraphicsContext(std::shared_ptr<Bitmap> bitmap, Size size, double scale);
    void setSource(const Color& color);
    template <typename Draw>
    void paintWithEffects(Draw draw);
    // Paints a picture composed in device space (its matrix the identity) with the state's shadow,
    // alpha and blend mode, within the clip.
    void paintWithShadow(cairo_pattern_t* picture);
    template <typename Draw>
    void withPath(const Path& shape, Draw draw);
    // alpha fades each piece as it is painted: only for pictures whose pieces do not overlap.
    void drawImageCore(const Image& image, const Rect& rect, double alpha = 1);
    // Whether the image is drawn in the rectangle as stretched pieces that all meet on whole
    // pixels of the canvas (so none of them overlaps another, even by an antialiased edge).
    bool piecesMeetOnPixels(const Image& image, const Rect& rect) const;

    struct State {
        Color fill = Color::black();
        Color stroke = Color::black();
        double alpha = 1;
        BlendMode blend = BlendMode::normal;
        bool shadow = false;
        Size shadowOffset;
        double shadowBlur = 0;
        Color shadowColor;
        // setKnownBackdrop's colour as this context fills with it, and its whole pixels.
        struct Backdrop {
            RGBA color;
            int x0, y0, x1, y1;
            cairo_surface_t* target;  // the surface it lies on (not a layer's)
        };
        std::optional<Backdrop> backdrop;
    };
    // Draws a stretched picture kept whole (whose top left corner lies at x0, y0 in pixels) over
    // the known backdrop from a copy composed over it: false where there is none to keep.
    bool copyOverBackdrop(const Bitmap& source, const ResampledPiece& picture, const WholePictureKey& key,
                          const State::Backdrop& under, int x0, int y0);
    std::shared_ptr<Bitmap> bitmap_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
    Size size_;
    double scale_;
    UserInterfaceStyle style_ = UserInterfaceStyle::light;
    Path path_;
    State state_;
    std::vector<State> saved_;
    // The state at each open layer's begin, and whether that layer narrowed the clip.
    std::vector<std::pair<State, bool>> layers_;
};

// Fills the rectangle with the gradient running from `unitStart` to `unitEnd`, both in unit
// coordinates of the rectangle ((0, 0) its top left, (1, 1) its bottom right); the outer colours
// hold past the ends.
void fillRectWithGradient(GraphicsContext& context, const Rect& rect, const Gradient& gradient, Point unitStart,
                          Point unitEnd);

// The bytes the calling thread keeps for layers drawn with drawInLayer and for shadows (bounded).
size_t keptLayerBytes();

// The thread's current context (the one pushed last), or null.
GraphicsContext* currentContext();
void pushContext(GraphicsContext* context);
void popContext();

// Image contexts in the platform's style: begin pushes a new image context on this thread's
// stack; the image is taken from the current one; end pops and destroys it.
void beginImageContext(Size size, bool opaque, double scale);
ImagePtr imageFromCurrentImageContext();
void endImageContext();

}  // namespace graphics
