#pragma once

#include <QEventLoop>
#include <QTimer>
#include <QWebView>

// Runs the event loop until the view's page has loaded (true) or failed or 20 s passed (false).
inline bool WaitForLoad(QWebView* view) {
  QEventLoop loop;
  bool loaded = false;
  QObject::connect(view, &QWebView::loadFinished, &loop, [&](bool ok) {
    loaded = ok;
    loop.quit();
  });
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  loop.exec();
  return loaded;
}
