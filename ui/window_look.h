#pragma once

#include "base/types.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

#include <vector>

class QWidget;

namespace qm::ui {

class FrameBox;

// The main window's look: its fixed layout, fonts and colours.
// Fixed layout, in pixels.
inline constexpr int kMargin = 8;
inline constexpr int kGap = 6;
inline constexpr int kPanelWidth = 200;
inline constexpr int kPanelHeight = 196;
inline constexpr int kBarHeight = 28;
inline constexpr int kWindowWidth = 2 * kMargin + 4 * kPanelWidth + 3 * kGap;
inline constexpr int kChannelAreaHeight = 2 * kPanelHeight + kGap;
inline constexpr int kWindowHeight = 3 * kMargin + kChannelAreaHeight + kBarHeight;

QColor toQColor(Rgb c);
QFont arialLike(double pointSize, bool bold = false);
// Sets a widget's text and background roles, for the enabled look only when
// `enabledOnly` (a disabled box keeps the style's greyed look).
void setRoleColors(QWidget* w, QPalette::ColorRole foreRole, QPalette::ColorRole backRole, Rgb fore,
                   Rgb back, bool enabledOnly);
// Button and check-box captions are shown as written: "&" is not a mnemonic.
QString literalCaption(const QString& text);
// The window title shows "[*]" literally, not as the modified marker.
QString literalTitle(const QString& text);
// A text box holds CR LF line ends; the editor wants bare line feeds.
QString editorText(const QString& text);
// Places `boxes` under the words of a column frame's caption, from word
// `firstWord` on, and scales the columns so that they fill the frame.
void layoutColumns(FrameBox* frame, const std::vector<QWidget*>& boxes, int firstWord, int top,
                   int height);
// "V01" for channel 1.
QString channelName(int i);

} // namespace qm::ui
