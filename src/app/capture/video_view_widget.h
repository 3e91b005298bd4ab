// The picture of a player view on screen.
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>

class IMediaPlayer;
class CPlayerView;

// Paints what a CPlayerView holds, at the view's own size from the widget's top-left corner,
// and repaints when a new picture arrives. The render thread only swaps pictures; this widget
// notices them on a short UI-thread timer, so nothing ever calls into it from another thread.
class CVideoViewWidget : public QWidget {
    Q_OBJECT
public:
    explicit CVideoViewWidget(QWidget* parent = nullptr);

    // The player whose picture is shown (null: black). Sizes the player's view to this widget.
    void SetPlayer(IMediaPlayer* player);
    IMediaPlayer* Player() const { return m_pPlayer; }
    // Sets the widget and its player's picture to `size`.
    void SetPictureSize(const QSize& size);

    // While true, a click on the picture pauses a playing player and plays a paused one.
    void SetClickToPause(bool bEnable) { m_bClickToPause = bEnable; }
    bool ClickToPause() const { return m_bClickToPause; }

    QSize sizeHint() const override { return m_size; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void PollFrame();

    IMediaPlayer* m_pPlayer = nullptr;
    QSize m_size;
    QTimer m_poll;
    std::uint64_t m_nShownFrame = 0;
    bool m_bClickToPause = true;
};
