#include "platform/qt/Animate.h"

#include <QPainter>
#include <algorithm>

namespace platform {

namespace {

// The colour of `px` (0xAARRGGBB) laid over the opaque colour of `key`.
uint32_t OverKey(uint32_t px, uint32_t key) {
    const uint32_t a = px >> 24;
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t c = (px >> shift) & 0xFF, k = (key >> shift) & 0xFF;
        out |= ((c * a + k * (255 - a) + 127) / 255) << shift;
    }
    return out;
}

}  // namespace

Animate::Animate(QWidget* parent) : QWidget(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Animate::Tick);
}

QSize Animate::ClipSize() const { return IsOpen() ? QSize(clip_.Width(), clip_.Height()) : QSize(); }

QSize Animate::sizeHint() const { return IsOpen() ? ClipSize() : QSize(0, 0); }

bool Animate::Open(const QString& path) {
    Close();
    if (!clip_.LoadFile(path.toStdString())) return false;
    key_ = clip_.Pixel(0, 0);
    ShowFrame(0);
    updateGeometry();
    return true;
}

void Animate::Close() {
    const bool wasPlaying = timer_.isActive();
    timer_.stop();
    clip_.Clear();
    image_ = QImage();
    frame_ = 0;
    if (wasPlaying) emit Stopped();
    update();
}

bool Animate::Play(int from, int to, int repeat) {
    if (!IsOpen()) return false;
    const int last = FrameCount() - 1;
    if (to < 0 || to > last) to = last;
    if (from < 0 || from > to) return false;
    if (repeat == 0) return false;
    from_ = from;
    to_ = to;
    repeat_ = repeat;
    ShowFrame(from_);
    // One frame alone has nothing to play.
    if (from_ == to_) return true;
    const int ms = int(std::max<uint32_t>(1, (clip_.MicroSecPerFrame() + 500) / 1000));
    timer_.start(ms);
    emit Started();
    return true;
}

void Animate::Stop() {
    if (!timer_.isActive()) return;
    timer_.stop();
    emit Stopped();
}

void Animate::Tick() {
    int next = frame_ + 1;
    if (next > to_) {
        if (repeat_ > 0 && --repeat_ == 0) {
            Stop();
            return;
        }
        next = from_;
    }
    ShowFrame(next);
}

void Animate::ShowFrame(int index) {
    frame_ = index;
    // A damaged frame keeps the picture of the one before it.
    if (!clip_.DecodeFrame(size_t(index)) && !image_.isNull()) return;
    const std::vector<uint32_t>& px = clip_.Canvas();
    const int w = clip_.Width();
    const int h = clip_.Height();
    if (px.size() != size_t(w) * size_t(h) || px.empty()) return;
    QImage img(w, h, QImage::Format_ARGB32);
    const bool alpha = clip_.HasAlpha();
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(img.scanLine(y));
        const uint32_t* src = px.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            if (alpha)  // art with its own alpha: as it is, or over its background colour when opaque
                line[x] = transparent_ ? src[x] : OverKey(src[x], key_);
            else
                line[x] = (transparent_ && src[x] == key_) ? 0u : src[x];
        }
    }
    image_ = img;
    update();
}

void Animate::SetTransparent(bool on) {
    if (transparent_ == on) return;
    transparent_ = on;
    if (IsOpen()) {
        // Redraw the frame on show with the new style, from the start of the clip if need be.
        const int frame = frame_;
        image_ = QImage();
        ShowFrame(frame);
    }
}

void Animate::SetCenter(bool on) {
    center_ = on;
    update();
}

void Animate::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter p(this);
    // Scaled up on high-density screens: smooth rather than blocky.
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPoint at(0, 0);
    if (center_) at = QPoint((width() - image_.width()) / 2, (height() - image_.height()) / 2);
    p.drawImage(at, image_);
}

}  // namespace platform
