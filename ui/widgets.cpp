#include "ui/widgets.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace qm::ui {

namespace {

constexpr int kCaptionIndent = 8;

QColor blend(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(static_cast<float>(a.redF() * (1 - t) + b.redF() * t),
                            static_cast<float>(a.greenF() * (1 - t) + b.greenF() * t),
                            static_cast<float>(a.blueF() * (1 - t) + b.blueF() * t));
}

} // namespace

QList<int> wordStarts(const QString& caption)
{
    QList<int> starts;
    for (int i = 0; i < caption.size(); ++i) {
        if (!caption[i].isSpace() && (i == 0 || caption[i - 1].isSpace()))
            starts.append(i);
    }
    return starts;
}

FrameBox::FrameBox(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void FrameBox::setCaption(const QString& caption)
{
    if (caption_ == caption)
        return;
    caption_ = caption;
    setAccessibleName(caption);
    update();
}

void FrameBox::setColors(const QColor& fore, const QColor& back)
{
    if (fore_ == fore && back_ == back)
        return;
    fore_ = fore;
    back_ = back;
    update();
}

void FrameBox::setColumnUnit(double pixelsPerCharacter)
{
    unit_ = pixelsPerCharacter;
    update();
}

void FrameBox::setProminent(bool on)
{
    prominent_ = on;
    update();
}

int FrameBox::columnX(int charIndex) const
{
    return kCaptionIndent + static_cast<int>(std::lround(charIndex * unit_));
}

int FrameBox::captionHeight() const
{
    return fontMetrics().height();
}

void FrameBox::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect dirty = event->rect();
    p.fillRect(dirty, back_);
    const QFontMetrics fm = fontMetrics();
    // The border and the caption run along the edges: an update that lies
    // inside them (a value, a box) needs neither.
    if (rect().adjusted(3, fm.height() + 1, -3, -3).contains(dirty))
        return;
    p.setRenderHint(QPainter::Antialiasing);

    const qreal top = fm.height() / 2.0;
    const qreal pen = prominent_ ? 2.0 : 1.0;
    const QRectF edge = QRectF(rect()).adjusted(pen / 2, top, -pen / 2, -pen / 2);
    p.setPen(QPen(blend(back_, fore_, prominent_ ? 0.65 : 0.4), pen));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(edge, 4, 4);

    if (caption_.isEmpty())
        return;
    p.setRenderHint(QPainter::Antialiasing, false);
    auto drawWord = [&](int x, const QString& word) {
        const QRect r(x - 3, 0, fm.horizontalAdvance(word) + 6, fm.height());
        p.fillRect(r, back_);
        p.setPen(fore_);
        p.drawText(r, Qt::AlignCenter, word);
    };
    if (unit_ <= 0) {
        drawWord(kCaptionIndent + 3, caption_);
        return;
    }
    const QList<int> starts = wordStarts(caption_);
    for (qsizetype k = 0; k < starts.size(); ++k) {
        int end = starts[k];
        while (end < caption_.size() && !caption_[end].isSpace())
            ++end;
        drawWord(columnX(starts[k]), caption_.mid(starts[k], end - starts[k]));
    }
}

Lamp::Lamp(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setFocusPolicy(Qt::NoFocus);
}

void Lamp::setBackground(const QColor& color)
{
    if (background_ == color)
        return;
    background_ = color;
    update();
}

void Lamp::setTransparent(bool on)
{
    if (transparent_ == on)
        return;
    transparent_ = on;
    update();
}

void Lamp::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor fill = transparent_ ? background_ : offColor();
    p.setPen(QPen(transparent_ ? background_.lighter(140) : QColor(140, 140, 140), 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(r, 2, 2);
}

} // namespace qm::ui
