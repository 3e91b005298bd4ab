// IMediaPlayer: what the player pages and their widgets ask of a player. CMediaPlayer
// (media_player.h) plays through libmpv; the tests put a player of their own behind the pages.
//
// Threads: a player lives on the UI thread and emits its notifications there; PositionSeconds
// may be read from any thread (the capture and writer threads stamp frames with it).
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

#include "platform/status.h"

class CPlayerView;

class IMediaPlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The picture the player shows; the capture engine grabs it.
    virtual CPlayerView& View() = 0;
    // Renders the picture at this size from now on.
    virtual bool SetViewSize(int width, int height) = 0;
    // Loads a media file, stopped at its start with its first picture shown, or fails with the
    // reason.
    virtual CStatus Open(const std::string& path) = 0;
    virtual bool HasMedia() const = 0;
    // Whether the media open has a picture to show.
    virtual bool HasVideo() const = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    // Pauses and goes back to the start.
    virtual void Stop() = 0;
    // Moves to `seconds` from the start; a playing player plays on, a stopped one is paused.
    virtual void Seek(double seconds) = 0;
    // Shows the next (or previous) picture and pauses.
    virtual void StepFrame(bool bForward) = 0;
    // Presents the picture held once more, so that the view's frame counter moves on.
    virtual void Redraw() = 0;
    // Playback position; 0 with no media. Any thread.
    virtual double PositionSeconds() const = 0;
    virtual double Duration() const = 0;
    // Pictures a second of the media's video; 0 when unknown (no media, sound only).
    virtual double FrameRate() const = 0;
    // 1.0 is normal speed.
    virtual bool SetRate(double rate) = 0;
    virtual double Rate() const = 0;
    // kPlayStateStopped, kPlayStatePaused or kPlayStatePlaying (media_player.h).
    virtual int PlayState() const = 0;

signals:
    // Emitted on the player's thread; each describes the player as it is at delivery.
    void PositionChanged(double seconds);
    void PlayStateChanged(int state);
};

// Makes the player of a widget; the program's makes CMediaPlayer (MediaPlayerMaker).
using MediaPlayerFactory = std::function<std::unique_ptr<IMediaPlayer>()>;
