// quellan-icon PICTURE.svg OUT.ico: renders an SVG picture with the web engine at 64 x 64
// pixels on a transparent ground and writes it as an icon file (or as the image format that
// OUT's suffix names, such as .png for a look at it).
#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QTimer>
#include <QUrl>
#include <QWebFrame>
#include <QWebPage>
#include <cstdio>

namespace {

constexpr int kSize = 64;

bool Render(const QString& picture, QImage* image) {
  QWebPage page;
  QPalette palette = page.palette();
  palette.setBrush(QPalette::Base, Qt::transparent);
  page.setPalette(palette);
  page.setViewportSize(QSize(kSize, kSize));
  QEventLoop loop;
  bool loaded = false;
  QObject::connect(&page, &QWebPage::loadFinished, &loop, [&](bool ok) {
    loaded = ok;
    loop.quit();
  });
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  page.mainFrame()->setHtml(
      QStringLiteral("<html><body style=\"margin:0;background:transparent\">"
                     "<img src=\"%1\" width=\"%2\" height=\"%2\" style=\"display:block\">"
                     "</body></html>")
          .arg(QUrl::fromLocalFile(picture).toString())
          .arg(kSize),
      QUrl::fromLocalFile(picture));
  loop.exec();
  if (!loaded) return false;
  *image = QImage(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
  image->fill(Qt::transparent);
  QPainter painter(image);
  page.mainFrame()->render(&painter);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quellan-icon PICTURE.svg OUT.ico\n");
    return 2;
  }
  QApplication app(argc, argv);
  QImage image;
  if (!Render(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath(), &image)) {
    std::fprintf(stderr, "quellan-icon: cannot render %s\n", argv[1]);
    return 1;
  }
  if (!image.convertToFormat(QImage::Format_ARGB32).save(QString::fromLocal8Bit(argv[2]))) {
    std::fprintf(stderr, "quellan-icon: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
