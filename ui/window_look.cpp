#include "ui/window_look.h"

#include "ui/widgets.h"

#include <QList>
#include <QWidget>

namespace qm::ui {

QColor toQColor(Rgb c)
{
    return QColor(c.r, c.g, c.b);
}

QFont arialLike(double pointSize, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

void setRoleColors(QWidget* w, QPalette::ColorRole foreRole, QPalette::ColorRole backRole, Rgb fore,
                   Rgb back, bool enabledOnly)
{
    const QColor f = toQColor(fore), b = toQColor(back);
    QPalette pal = w->palette();
    if (pal.color(QPalette::Active, foreRole) == f && pal.color(QPalette::Active, backRole) == b)
        return;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        if (enabledOnly && group == QPalette::Disabled)
            continue;
        pal.setColor(group, foreRole, f);
        pal.setColor(group, backRole, b);
    }
    w->setPalette(pal);
}

QString literalCaption(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return out;
}

QString literalTitle(const QString& text)
{
    QString out = text;
    out.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    return out;
}

QString editorText(const QString& text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

void layoutColumns(FrameBox* frame, const std::vector<QWidget*>& boxes, int firstWord, int top,
                   int height)
{
    const int n = static_cast<int>(boxes.size());
    QList<int> cols = wordStarts(frame->caption());
    if (cols.size() >= firstWord + n) {
        cols = cols.mid(firstWord, n);
    } else { // a caption without enough headings: even columns
        cols.clear();
        for (int k = 0; k < n; ++k)
            cols.append(k * 10);
    }
    const double step = n > 1 ? double(cols.back() - cols.front()) / (n - 1) : 10.0;
    const double span = cols.back() + step;
    frame->setColumnUnit((frame->width() - 2 * kMargin) / span);
    for (int k = 0; k < n; ++k) {
        const int x = frame->columnX(cols[k]);
        const int next = k + 1 < n ? frame->columnX(cols[k + 1]) - kGap : frame->width() - kMargin;
        boxes[k]->setGeometry(x - 2, top, next - x + 2, height);
    }
}

QString channelName(int i)
{
    return QStringLiteral("V0%1").arg(i);
}

} // namespace qm::ui
