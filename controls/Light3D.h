#pragma once
// A one-pixel 3D edge, sunken or raised, along the four sides of the widget.
// Two pixels high it is an etched separator; larger it is a frame that can host
// child widgets at (1, 1). Colours are 32-bit values; 0x80000000 + n follows the
// palette's system colour n (see platform/qt/SysColor.h).
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QVariant>
#include <QWidget>
#include <cstdint>
#include <map>
#include <string>

// A container's property store: a missing key reads as its default, and a value
// equal to its default is left out when written.
class PropertyBag {
public:
    QVariant ReadProperty(const std::string& key, const QVariant& def) const;
    void WriteProperty(const std::string& key, const QVariant& value, const QVariant& def);
    bool Contains(const std::string& key) const { return values_.count(key) != 0; }
    size_t Size() const { return values_.size(); }

private:
    std::map<std::string, QVariant> values_;
};

struct Line3D {
    float X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
    uint32_t BorderColor = 0;
};

class Light3D : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kClassName = "Loomvale.Light3D";
    static constexpr uint32_t kShadow = 0x80000010u;     // button shadow
    static constexpr uint32_t kHighlight = 0x80000014u;  // button highlight

    explicit Light3D(QWidget* parent = nullptr);

    uint32_t ForeColor() const { return foreColor_; }
    void SetForeColor(uint32_t c);
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool on);
    QFont Font() const { return font(); }
    void SetFont(const QFont& f);
    int16_t BackStyle() const { return backStyle_; }
    void SetBackStyle(int16_t s);
    void Refresh() { repaint(); }
    QPixmap Picture() const { return picture_; }
    void SetPicture(const QPixmap& p);
    WId hwnd() { return winId(); }
    void Cls();
    // Where run-time graphics go: the persistent bitmap that PSet_ draws into,
    // Cls clears and Image returns (Qt widgets cannot be drawn on outside a
    // paint event). Call Refresh to show what was drawn.
    QPaintDevice* hDC();
    bool AutoRedraw() const { return autoRedraw_; }
    void SetAutoRedraw(bool on);
    uint32_t BackColor() const { return backColor_; }
    void SetBackColor(uint32_t c);
    void PSet_(float x, float y, uint32_t color);
    QImage Image() const { return image_; }
    bool Style() const { return style_; }
    void SetStyle(bool sunken);

    // New instance on a form: ambient font, sunken.
    void InitProperties(const QFont& ambientFont);
    void ReadProperties(const PropertyBag& bag, const QFont& ambientFont);
    void WriteProperties(PropertyBag& bag, const QFont& ambientFont) const;

signals:
    void PropertyChanged(const QString& name);
    void Resize();
    void Click();
    void DblClick();
    void KeyDown(int16_t& keyCode, int16_t& shift);
    void KeyPress(int16_t& keyAscii);
    void KeyUp(int16_t& keyCode, int16_t& shift);
    void MouseDown(int16_t& button, int16_t& shift, float& x, float& y);
    void MouseMove(int16_t& button, int16_t& shift, float& x, float& y);
    void MouseUp(int16_t& button, int16_t& shift, float& x, float& y);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void changeEvent(QEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void keyReleaseEvent(QKeyEvent*) override;

private:
    void EnsureImage();
    Line3D lin3D_[4];
    bool style_ = true;
    uint32_t backColor_ = 0x8000000Fu;
    uint32_t foreColor_ = 0x80000012u;
    int16_t backStyle_ = 1;
    int16_t borderStyle_ = 0;  // persisted only; no public property
    bool autoRedraw_ = false;
    QPixmap picture_;
    QImage image_;  // run-time graphics (PSet_), cleared by Cls
    bool pressed_ = false;
};
