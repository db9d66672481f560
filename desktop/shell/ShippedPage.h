// The web page of the main window. It shows the page shipped with the program and nothing else:
// every other address is refused, in the main frame and in any child frame, whether a script,
// a drop or a link asks for it. Links to web addresses open in the system's browser instead.
// The bridge is only ever handed to a frame that shows the shipped page (see isShippedPage).
#pragma once

#include <QUrl>
#include <QWebPage>

class ShippedPage : public QWebPage {
  Q_OBJECT

 public:
  explicit ShippedPage(QObject* parent = nullptr);

  // The one address the page may show: the shipped page's local file.
  void setShippedUrl(const QUrl& url) { shipped_ = url; }
  const QUrl& shippedUrl() const { return shipped_; }

  // True when `url` is the shipped page (a fragment after it does not matter).
  bool isShippedPage(const QUrl& url) const;

 signals:
  // A navigation to `url` was refused (a link to a web address went to the browser instead).
  void refused(const QUrl& url);

 protected:
  bool acceptNavigationRequest(QWebFrame* frame, const QNetworkRequest& request,
                               NavigationType type) override;

 private:
  QUrl shipped_;
};
