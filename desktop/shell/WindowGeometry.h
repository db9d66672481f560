// The main window's size from the settings, and the rule for which presses start a drag.
#pragma once

#include <QPoint>
#include <QSize>
#include <Qt>

// The area of the web view, in its coordinates, where a left-button press starts a drag.
struct MoveRange {
  int top = 0;
  int left = 0;
  int height = 50;
  int width = 0;
};

// Set/Width and Set/Height where they are greater than 0, else the current size.
inline QSize WindowSizeFromSettings(int width, int height, QSize current) {
  return QSize(width > 0 ? width : current.width(), height > 0 ? height : current.height());
}

// Bounds included on every side.
inline bool StartsDrag(const MoveRange& range, bool movingEnabled, Qt::MouseButton button,
                       QPoint position) {
  return movingEnabled && button == Qt::LeftButton && position.y() >= range.top &&
         position.y() <= range.top + range.height && position.x() >= range.left &&
         position.x() <= range.left + range.width;
}
