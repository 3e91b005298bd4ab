// The picture area of the viewer: one picture shown fitted to the area or at a chosen scale,
// zoomed with the wheel around the pointer and moved by dragging; with a compare picture, a
// vertical split line shows the compare picture left of it and the picture right of it, and a
// held key (Space or B) shows the compare picture whole.
#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>

class CImageCanvas : public QWidget {
    Q_OBJECT
public:
    explicit CImageCanvas(QWidget* parent = nullptr);

    // The picture shown; fitted to the area until the user zooms.
    void SetImage(const QImage& image);
    const QImage& Image() const { return m_image; }
    // The picture left of the split line, scaled to the picture's size when it has another;
    // a null image takes the split line away.
    void SetCompare(const QImage& compare);
    const QImage& Compare() const { return m_compare; }
    bool HasCompare() const { return !m_compare.isNull(); }
    // Whether the split line is shown (only with a compare picture).
    void SetCompareShown(bool bShown);
    bool CompareShown() const { return m_bCompareShown && HasCompare(); }
    // The split line's place as a part of the area's width (0 left edge, 1 right edge).
    void SetSplit(double dSplit);
    double Split() const { return m_dSplit; }

    // Screen pixels per picture pixel: 1 is 1:1 on the screen's own pixels, whatever the
    // device pixel ratio.
    double Scale() const { return m_dScale; }
    bool IsFitted() const { return m_bFit; }
    // The scale at which the whole picture fills the area as far as it can.
    double FitScale() const;
    void FitToWindow();
    // 1:1, the picture's centre kept where it is.
    void ShowActualSize();
    // Sets the scale (clamped to kMinScale..kMaxScale) keeping the picture point under the area
    // point `anchor` where it is.
    void ZoomAt(double dScale, const QPointF& anchor);
    // Zooms by `steps` wheel notches (a notch is x1.25) around `anchor`.
    void ZoomSteps(double steps, const QPointF& anchor);

    // Area point (logical pixels) of a picture point, and back.
    QPointF ImageToWidget(const QPointF& point) const;
    QPointF WidgetToImage(const QPointF& point) const;

    static constexpr double kMinScale = 1.0 / 64;
    static constexpr double kMaxScale = 64;

signals:
    // The scale changed (zoom, fit, 1:1, a new size of a fitted area).
    void ScaleChanged(double dScale);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    enum class Drag { None, Pan, Split };

    // Device pixels per logical pixel of this widget's screen.
    double Ratio() const;
    // The split line's x in area coordinates.
    double SplitX() const;
    bool NearSplit(const QPointF& point) const;
    // Centres the picture at the present scale.
    void Centre();
    void SetScaleKeeping(double dScale, const QPointF& anchor);

    QImage m_image;
    QImage m_compare;  // m_image's size, or null
    double m_dScale = 1;
    QPointF m_origin;  // area point of the picture's top-left corner
    bool m_bFit = true;
    bool m_bCompareShown = true;
    bool m_bCompareHeld = false;  // the compare key is down
    double m_dSplit = 0.5;
    Drag m_drag = Drag::None;
    QPointF m_dragFrom;
};
