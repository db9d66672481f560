// Preloaded (LD_PRELOAD) into the real quellanview by the desktop session test, so that the
// test drives the unchanged program from outside: it answers requests on the local socket named
// by $QUELLAN_PAGE_PROBE. A request and its answer are each "<length>\n<bytes>":
//   "eval\n<script>"  runs the script in the page and answers its result as text; before it,
//                     the page's script object is wrapped once so that every call of one of its
//                     operations is timed (window.__slotTimes: [name, milliseconds, start]);
//   "window"          the main window as JSON: X window id, visible, minimised, active;
//   "tray"            the tray as JSON: available, icon shown, the menu's entries;
//   "shot"            a PNG of the whole screen.
// The probe runs on the window's thread, so a frozen window also shows as a slow answer.
#include <QApplication>
#include <QBuffer>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

namespace {

// Wraps the page's script object once per page load. Properties are read through, so values
// the program changes stay current.
const char kTimeSlots[] = R"JS(
(function () {
  var q = window.Quellanview;
  if (!q || q.__timed) return;
  var timed = { __timed: true };
  window.__slotTimes = window.__slotTimes || [];
  var clock = window.performance && performance.now ? function () { return performance.now(); }
                                                    : function () { return Date.now(); };
  // The object lists each operation by name and by signature ("hideWindow()").
  Object.getOwnPropertyNames(q).forEach(function (listed) {
    var name = listed.replace(/\(.*$/, "");
    if (Object.prototype.hasOwnProperty.call(timed, name)) return;
    var value = q[name];
    if (typeof value === "function") {
      timed[name] = function () {
        var start = clock();
        try {
          return value.apply(q, arguments);
        } finally {
          window.__slotTimes.push([name, clock() - start, Date.now()]);
        }
      };
      // Operations and signals look alike; a signal's connect() still reaches the program.
      ["connect", "disconnect"].forEach(function (verb) {
        timed[name][verb] = function () { return value[verb].apply(value, arguments); };
      });
    } else {
      Object.defineProperty(timed, name, { get: function () { return q[name]; } });
    }
  });
  window.Quellanview = timed;
})();
)JS";

QWebView* FindView() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* view = qobject_cast<QWebView*>(widget)) return view;
    if (auto* view = widget->findChild<QWebView*>()) return view;
  }
  return nullptr;
}

QSystemTrayIcon* FindTray() {
  if (auto* tray = qApp->findChild<QSystemTrayIcon*>()) return tray;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* tray = widget->findChild<QSystemTrayIcon*>()) return tray;
  return nullptr;
}

QByteArray Evaluate(const QString& script) {
  QWebView* view = FindView();
  if (!view) return "no page";
  QWebFrame* frame = view->page()->mainFrame();
  frame->evaluateJavaScript(kTimeSlots);
  return frame->evaluateJavaScript(script).toString().toUtf8();
}

QByteArray WindowState() {
  QWebView* view = FindView();
  if (!view) return "{}";
  QWidget* window = view->window();
  QJsonObject state{{"id", QString::number(window->winId())},
                    {"visible", window->isVisible()},
                    {"minimised", window->isMinimized()},
                    {"active", window->isActiveWindow()}};
  return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

QByteArray TrayState() {
  QSystemTrayIcon* tray = FindTray();
  QJsonArray entries;
  if (tray && tray->contextMenu())
    for (QAction* action : tray->contextMenu()->actions())
      if (!action->isSeparator() && action->isVisible()) entries.append(action->text());
  QJsonObject state{{"available", QSystemTrayIcon::isSystemTrayAvailable()},
                    {"shown", tray && tray->isVisible()},
                    {"menu", entries}};
  return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

QByteArray Screenshot() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  screen->grabWindow(0).save(&buffer, "PNG");
  return png;
}

QByteArray Answer(const QByteArray& request) {
  if (request.startsWith("eval\n")) return Evaluate(QString::fromUtf8(request.mid(5)));
  if (request == "window") return WindowState();
  if (request == "tray") return TrayState();
  if (request == "shot") return Screenshot();
  return "unknown request";
}

// Takes whole frames from one connection's bytes and answers each.
class ProbeConnection : public QObject {
 public:
  explicit ProbeConnection(QLocalSocket* socket) : QObject(socket), socket_(socket) {
    connect(socket, &QLocalSocket::readyRead, this, [this] { readFrames(); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
  }

 private:
  void readFrames() {
    pending_ += socket_->readAll();
    for (;;) {
      int newline = pending_.indexOf('\n');
      if (newline < 0) return;
      bool isNumber = false;
      qlonglong length = pending_.left(newline).toLongLong(&isNumber);
      if (!isNumber || length < 0) {
        socket_->abort();
        return;
      }
      if (pending_.size() - newline - 1 < length) return;
      QByteArray request = pending_.mid(newline + 1, static_cast<int>(length));
      pending_.remove(0, newline + 1 + static_cast<int>(length));
      QByteArray answer = Answer(request);
      socket_->write(QByteArray::number(answer.size()) + '\n' + answer);
      socket_->flush();
    }
  }

  QLocalSocket* socket_;
  QByteArray pending_;
};

void StartProbe() {
  const QString path = qEnvironmentVariable("QUELLAN_PAGE_PROBE");
  // The drive program and anything else this program starts run without the probe.
  qunsetenv("QUELLAN_PAGE_PROBE");
  qunsetenv("LD_PRELOAD");
  if (path.isEmpty()) return;
  auto* server = new QLocalServer(qApp);
  QObject::connect(server, &QLocalServer::newConnection, server, [server] {
    while (QLocalSocket* socket = server->nextPendingConnection()) new ProbeConnection(socket);
  });
  if (!server->listen(path)) qWarning("page probe: cannot listen on %s", qPrintable(path));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartProbe)
