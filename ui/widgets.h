#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

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

} // namespace qm::ui
