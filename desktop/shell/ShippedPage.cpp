#include "desktop/shell/ShippedPage.h"

#include <QDesktopServices>
#include <QDir>
#include <QNetworkRequest>
#include <QWebFrame>
#include <QWebSettings>

namespace {

bool IsWebAddress(const QUrl& url) {
  return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

}  // namespace

ShippedPage::ShippedPage(QObject* parent) : QWebPage(parent) {
  QWebSettings* web = settings();
  // The page reads its own files through tags only; no script of it reads other local files.
  web->setAttribute(QWebSettings::LocalContentCanAccessFileUrls, false);
  // The page asks the storage service's page endpoints for its session.
  web->setAttribute(QWebSettings::LocalContentCanAccessRemoteUrls, true);
  web->setAttribute(QWebSettings::PluginsEnabled, false);
  web->setAttribute(QWebSettings::JavaEnabled, false);
  web->setAttribute(QWebSettings::JavascriptCanOpenWindows, false);
}

bool ShippedPage::isShippedPage(const QUrl& url) const {
  if (shipped_.isEmpty() || url.scheme() != QLatin1String("file") || !url.host().isEmpty())
    return false;
  return QDir::cleanPath(url.toLocalFile()) == QDir::cleanPath(shipped_.toLocalFile());
}

bool ShippedPage::acceptNavigationRequest(QWebFrame* frame, const QNetworkRequest& request,
                                          NavigationType type) {
  const QUrl url = request.url();
  if (frame != nullptr && frame == mainFrame() && isShippedPage(url)) return true;
  if (type == NavigationTypeLinkClicked && IsWebAddress(url)) QDesktopServices::openUrl(url);
  emit refused(url);
  return false;
}
