#pragma once
// The animation control: plays an AVI clip (uncompressed or RLE8) from a file,
// frame after frame at the clip's own rate. A clip that cannot be decoded
// leaves the control empty.
#include <QImage>
#include <QTimer>
#include <QWidget>

#include "platform/qt/AviClip.h"

namespace platform {

class Animate : public QWidget {
    Q_OBJECT
public:
    explicit Animate(QWidget* parent = nullptr);

    // Reads the clip and shows its first frame; false leaves the control empty.
    bool Open(const QString& path);
    // Plays frames from..to (to = -1: the last), repeat times (-1: until stopped).
    bool Play(int from = 0, int to = -1, int repeat = -1);
    void Stop();
    // Forgets the clip; the control shows nothing.
    void Close();

    bool IsOpen() const { return clip_.IsOpen(); }
    bool IsPlaying() const { return timer_.isActive(); }
    int FrameCount() const { return int(clip_.FrameCount()); }
    int CurrentFrame() const { return frame_; }
    QSize ClipSize() const;
    const QImage& CurrentImage() const { return image_; }
    int FrameInterval() const { return timer_.interval(); }

    // The clip's background (the first frame's top-left colour) lets the parent
    // show through, as the control's transparent style does. A clip whose
    // palette carries alpha shows through by that alpha instead, so its
    // smoothed edges and shadows suit any background.
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool on);
    // Centred in the control's own size rather than at its top-left corner.
    bool Center() const { return center_; }
    void SetCenter(bool on);

    QSize sizeHint() const override;

signals:
    void Started();
    void Stopped();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowFrame(int index);
    void Tick();

    AviClip clip_;
    QImage image_;
    QTimer timer_;
    int frame_ = 0;
    int from_ = 0;
    int to_ = 0;
    int repeat_ = -1;
    uint32_t key_ = 0;
    bool transparent_ = false;
    bool center_ = false;
};

}  // namespace platform
