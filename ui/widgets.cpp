#include "ui/widgets.h"

#include "base/types.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QTextLayout>

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
    const Rgb outline = colors::kLampOutline;
    p.setPen(QPen(transparent_ ? background_.lighter(140) : QColor(outline.r, outline.g, outline.b),
                  1.0));
    p.setBrush(fill);
    p.drawRoundedRect(r, 2, 2);
}

namespace {

// What a screen reader reads of a TextLabel: what a QLabel would give, with
// the text exactly as shown.
class TextLabelAccessible final : public QAccessibleWidget {
public:
    explicit TextLabelAccessible(QWidget* w)
        : QAccessibleWidget(w, QAccessible::StaticText)
    {
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const TextLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* textLabelAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String(TextLabel::staticMetaObject.className()) &&
        object->isWidgetType())
        return new TextLabelAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

TextLabel::TextLabel(QWidget* parent)
    : QFrame(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(textLabelAccessible);
        return true;
    }();
    (void)installed;
}

void TextLabel::setText(const QString& text)
{
    if (text == text_)
        return;
    std::shared_ptr<QTextLayout> next = layOut(text);
    const QRect area = changedArea(text_, next.get());
    text_ = text;
    laidOut_ = std::move(next);
    update(area);
    if (accessibleName().isEmpty()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void TextLabel::setAlignment(Qt::Alignment alignment)
{
    alignment_ = alignment;
    update();
}

void TextLabel::setIndent(int indent)
{
    indent_ = indent;
    update();
}

// As QLabel::paintEvent() draws a plain text without a mnemonic. A line of
// text is drawn from the glyphs laid out when it was set, at the place where
// the style's text layout puts it; other texts go through the style.
void TextLabel::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    if (!contentsRect().contains(event->rect()))
        drawFrame(&p);
    const QRect r = textRect();
    if (laidOut_ && laidOutFont_ != font())
        laidOut_ = layOut(text_);
    if (!isEnabled() || !laidOut_) {
        const Qt::LayoutDirection direction =
            text_.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
        const int flags =
            static_cast<int>(QStyle::visualAlignment(direction, alignment_)) | Qt::TextExpandTabs |
            (direction == Qt::LeftToRight ? Qt::TextForceLeftToRight : Qt::TextForceRightToLeft);
        style()->drawItemText(&p, r, flags, palette(), isEnabled(), text_, foregroundRole());
        return;
    }
    const QTextLine line = laidOut_->lineAt(0);
    const qreal width = line.naturalTextWidth();
    const qreal height = line.ascent() + line.descent();
    const Qt::Alignment a = QStyle::visualAlignment(Qt::LeftToRight, alignment_);
    qreal x = r.x();
    qreal y = r.y();
    if (a & Qt::AlignRight)
        x += r.width() - width;
    else if (a & Qt::AlignHCenter)
        x += (r.width() - width) / 2;
    if (a & Qt::AlignBottom)
        y += r.height() - height;
    else if (a & Qt::AlignVCenter)
        y += (r.height() - height) / 2;
    p.setPen(QPen(palette().brush(foregroundRole()), p.pen().widthF()));
    laidOut_->draw(&p, QPointF(x, y));
}

// QLabel's rectangle for a plain text: the contents less the indent on the
// side the text is aligned to.
QRect TextLabel::textRect() const
{
    QRect r = contentsRect();
    int m = indent_;
    if (m < 0 && frameWidth()) // no indent given, but a frame
        m = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
    if (m <= 0)
        return r;
    const Qt::Alignment a = QStyle::visualAlignment(
        text_.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight, alignment_);
    if (a & Qt::AlignLeft)
        r.setLeft(r.left() + m);
    if (a & Qt::AlignRight)
        r.setRight(r.right() - m);
    if (a & Qt::AlignTop)
        r.setTop(r.top() + m);
    if (a & Qt::AlignBottom)
        r.setBottom(r.bottom() - m);
    return r;
}

std::shared_ptr<QTextLayout> TextLabel::layOut(const QString& text)
{
    if (!isOneLine(text))
        return nullptr;
    if (laidOutFont_ != font()) {
        recent_.clear();
        laidOutFont_ = font();
    }
    // A value that comes back (a reading that goes to and fro) is not laid
    // out again.
    for (auto it = recent_.begin(); it != recent_.end(); ++it) {
        if ((*it)->text() == text) {
            std::shared_ptr<QTextLayout> found = *it;
            recent_.erase(it);
            recent_.insert(recent_.begin(), found);
            return found;
        }
    }
    auto layout = std::make_shared<QTextLayout>(text, laidOutFont_, this);
    QTextOption option;
    option.setTextDirection(Qt::LeftToRight);
    option.setWrapMode(QTextOption::NoWrap);
    layout->setTextOption(option);
    layout->setCacheEnabled(true); // the glyphs kept for drawing
    layout->beginLayout();
    QTextLine line = layout->createLine();
    line.setLineWidth(kLineWidth);
    layout->endLayout();
    recent_.insert(recent_.begin(), layout);
    if (recent_.size() > kRecent)
        recent_.pop_back();
    return layout;
}

QRect TextLabel::changedArea(const QString& before, const QTextLayout* after)
{
    const QRect all = contentsRect();
    // Text on several lines, with tabs or laid out from the right: drawn anew.
    if (!laidOut_ || !after)
        return all;
    const QTextLine was = laidOut_->lineAt(0);
    const QTextLine line = after->lineAt(0);
    const QString& text = after->text();
    qsizetype same = 0;
    while (same < before.size() && same < text.size() && before[same] == text[same])
        ++same;
    // The last character in common is drawn again: it may join the next one
    // (a ligature, kerning). Ink may reach beyond a glyph's advance: a quarter
    // of the line height to spare on either side.
    if (--same <= 0)
        return all;
    const int spare = QFontMetrics(font(), this).height() / 4;
    const Qt::Alignment h = alignment_ & Qt::AlignHorizontal_Mask;
    if (h == Qt::AlignLeft) {
        // The text starts at the left of the contents or after the indent.
        const int x = all.left() + static_cast<int>(line.cursorToX(int(same))) - spare;
        return QRect(QPoint(std::max(x, all.left()), all.top()), all.bottomRight());
    }
    if (h == Qt::AlignHCenter) {
        const qreal width = line.naturalTextWidth();
        if (was.naturalTextWidth() != width)
            return all; // the text moved
        const qreal left = all.left() + (all.width() - width) / 2;
        const int x0 = static_cast<int>(left + line.cursorToX(int(same))) - spare;
        const int x1 = static_cast<int>(left + width) + spare;
        return QRect(QPoint(x0, all.top()), QPoint(x1, all.bottom())) & all;
    }
    return all;
}

} // namespace qm::ui
