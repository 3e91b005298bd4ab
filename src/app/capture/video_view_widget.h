// The picture of a player view on screen.
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>

class IMediaPlayer;
class CPlayerView;

// Paints what a CPlayerView holds and repaints when a new picture arrives. The render thread
// only swaps pictures; this widget notices them on a short UI-thread timer, so nothing ever
// calls into it from another thread. The widget is at least its picture size and grows with
// the window: the picture keeps that size's shape, as large as fits in tenths of it, from the
// top-left corner, and the player renders it at the screen's own pixels (the device pixel ratio),
// so that at the picture size on a plain screen the view is exactly what it always was.
class CVideoViewWidget : public QWidget {
    Q_OBJECT
public:
    explicit CVideoViewWidget(QWidget* parent = nullptr);

    // The player whose picture is shown (null: black). Sizes the player's view to this widget.
    void SetPlayer(IMediaPlayer* player);
    IMediaPlayer* Player() const { return m_pPlayer; }
    // The widget's smallest size and the picture's shape.
    void SetPictureSize(const QSize& size);
    // Where the picture lies in the widget, in the widget's own (device-independent) pixels.
    QRect PictureRect() const;

    // While true, a click on the picture pauses a playing player and plays a paused one.
    void SetClickToPause(bool bEnable) { m_bClickToPause = bEnable; }
    bool ClickToPause() const { return m_bClickToPause; }

    QSize sizeHint() const override { return m_size; }
    // The picture's shape: as wide as the layout allows, as high as that width asks.
    bool hasHeightForWidth() const override { return !m_size.isEmpty(); }
    int heightForWidth(int width) const override;

signals:
    // A double click on the picture.
    void DoubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void PollFrame();
    // The picture's size in device pixels: what the player renders for it.
    QSize DevicePictureSize() const;
    // Tells the player the picture's size in device pixels.
    void UpdateViewSize();

    IMediaPlayer* m_pPlayer = nullptr;
    QSize m_size;
    QTimer m_poll;
    std::uint64_t m_nShownFrame = 0;
    QSize m_viewSize;  // last told to the player, in device pixels
    bool m_bClickToPause = true;
};
