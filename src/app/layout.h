#pragma once

#include <QMargins>
#include <QRect>
#include <QWidget>

#include <algorithm>

namespace voxtrel {

/// Twips per pixel: the form designer's 1/1440 inch at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

inline int Twips(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

inline QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(Twips(left), Twips(top), Twips(width), Twips(height));
}

/// `rect` grown to the widget's size hint where the designed size is smaller, the height about
/// the same middle line, so the font's full height shows; the left edge stays.
inline QRect Fitted(const QWidget* widget, QRect rect) {
  const QSize hint = widget->sizeHint();
  if (hint.height() > rect.height()) {
    const int extra = hint.height() - rect.height();
    rect.setTop(rect.top() - extra / 2);
    rect.setHeight(hint.height());
  }
  if (hint.width() > rect.width()) rect.setWidth(hint.width());
  return rect;
}

/// Where a window goes on a screen whose free area is `available`: the top-left corner of its
/// frame, and its size without the `frame` the system adds: `size` cut to fit the area with
/// the frame, never below `least`. The frame is centred on the area, or starts at the area's
/// top-left corner in the direction where it is too big.
inline QRect FitWindowToScreen(QSize size, QSize least, QMargins frame, QRect available) {
  const QSize frame_size(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QSize fitted = size.boundedTo(available.size() - frame_size).expandedTo(least);
  const QSize outer = fitted + frame_size;
  const QPoint top_left(available.left() + std::max(0, (available.width() - outer.width()) / 2),
                        available.top() + std::max(0, (available.height() - outer.height()) / 2));
  return QRect(top_left, fitted);
}

inline void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(TwipsRect(left, top, width, height));
}

inline void PlaceFitted(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Fitted(widget, TwipsRect(left, top, width, height)));
}

/// Buttons keep their designed rectangle (two of them share one); only the width may grow.
inline void PlaceButton(QWidget* widget, int left, int top, int width, int height) {
  QRect rect = TwipsRect(left, top, width, height);
  if (widget->sizeHint().width() > rect.width()) rect.setWidth(widget->sizeHint().width());
  widget->setGeometry(rect);
}

}  // namespace voxtrel
