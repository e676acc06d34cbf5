#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QList>
#include <QTextLayout>

#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

namespace qm::ui {

// Where the words of a caption begin, as character positions. A caption such
// as "COM:    Baud:        ID:" lays out columns with its blanks; the window
// puts each column's box under its word.
QList<int> wordStarts(const QString& caption);

// A frame: a filled rectangle with a thin border and its caption set into the
// top edge. In column mode the caption's words stand at their character
// positions times a fixed unit, as headings over the boxes below them.
class FrameBox final : public QWidget {
public:
    explicit FrameBox(QWidget* parent = nullptr);

    void setCaption(const QString& caption);
    const QString& caption() const { return caption_; }
    void setColors(const QColor& fore, const QColor& back);
    // 0 = the caption sits at the left of the top edge; > 0 = column mode,
    // word i drawn at columnX(start of word i).
    void setColumnUnit(double pixelsPerCharacter);
    // A panel laid over other controls gets a stronger border.
    void setProminent(bool on);

    // Left edge of the column that begins at character `charIndex`.
    int columnX(int charIndex) const;
    // Height of the caption band at the top; children start below it.
    int captionHeight() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    QColor fore_{Qt::black};
    QColor back_{240, 240, 240};
    double unit_ = 0;
    bool prominent_ = false;
};

// The alarm lamp: a rectangle on its background colour. Solid fill covers the
// background with a dark neutral grey (off); transparent fill lets the
// background show (the alarm colour).
class Lamp final : public QWidget {
public:
    explicit Lamp(QWidget* parent = nullptr);

    void setBackground(const QColor& color);
    void setTransparent(bool on);
    bool transparent() const { return transparent_; }

    static QColor offColor() { return {58, 58, 58}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor background_{255, 0, 0};
    bool transparent_ = false;
};

// A line of plain text, drawn as a QLabel draws it (the same style call, the
// same rectangle), that repaints only the part where a new text differs from
// the old: a status line whose counter gains one redraws that digit, not the
// whole line and its frame. Screen readers meet it as they meet a label: role
// static text, the text shown as its name, its description as given.
class TextLabel final : public QFrame {
    Q_OBJECT
public:
    explicit TextLabel(QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);
    Qt::Alignment alignment() const { return alignment_; }
    void setAlignment(Qt::Alignment alignment);
    // Pixels between the frame and a text aligned to a side; -1: half an "x"
    // when there is a frame, as QLabel has it.
    void setIndent(int indent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect() const;
    // A text laid out from the left on one line, without tabs.
    bool isOneLine(const QString& text) const
    {
        return !isRightToLeft() && !text.contains(QLatin1Char('\n')) &&
               !text.contains(QLatin1Char('\t')) && !text.isRightToLeft();
    }
    // The part of the label where `before` (text_ as laid out) and `after`
    // may be drawn differently.
    QRect changedArea(const QString& before, const QTextLayout* after);
    // `text` laid out on one line in the label's font, or as laid out
    // before among the kRecent texts last laid out; nothing for a text that
    // is not one line.
    std::shared_ptr<QTextLayout> layOut(const QString& text);
    static constexpr std::size_t kRecent = 16;
    static constexpr int kLineWidth = 1 << 20; // wider than any text

    QString text_;
    std::shared_ptr<QTextLayout> laidOut_;             // text_, when it is one line
    std::vector<std::shared_ptr<QTextLayout>> recent_; // the newest first
    QFont laidOutFont_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
    int indent_ = -1;
};

} // namespace qm::ui
