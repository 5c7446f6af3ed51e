#include "gui/icons.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPointer>
#include <QRegularExpression>
#include <QSvgRenderer>

#include <cmath>
#include <map>
#include <memory>

namespace kestro::gui {

namespace {

// The renderers and rendered pictures live as long as the application, whose
// child the store is, so that nothing of Qt outlives it.
class Store : public QObject {
 public:
  using QObject::QObject;
  std::map<QString, std::unique_ptr<QSvgRenderer>> renderers;
  QHash<QString, QPixmap> pixmaps;
};

Store& TheStore() {
  static QPointer<Store> store;
  if (!store) store = new Store(QCoreApplication::instance());
  return *store;
}

QSvgRenderer* Renderer(const QString& name) {
  auto& renderers = TheStore().renderers;
  auto it = renderers.find(name);
  if (it != renderers.end()) return it->second.get();
  std::unique_ptr<QSvgRenderer> r;
  QString path = Icons::ResourcePath(name);
  if (QFile::exists(path)) {
    r = std::make_unique<QSvgRenderer>(path);
    if (!r->isValid()) r.reset();
  }
  QSvgRenderer* raw = r.get();
  renderers.emplace(name, std::move(r));
  return raw;
}

}  // namespace

QString Icons::ResourcePath(const QString& name) { return QStringLiteral(":/art/") + name + QStringLiteral(".svg"); }

bool Icons::Has(const QString& name) { return Renderer(name) != nullptr; }

QSize Icons::NaturalSize(const QString& name) {
  QSvgRenderer* r = Renderer(name);
  return r ? r->defaultSize() : QSize();
}

QPixmap Icons::Render(const QString& name, QSize size, qreal dpr) {
  QSvgRenderer* r = Renderer(name);
  if (!r) return {};
  if (size.isEmpty()) size = r->defaultSize();
  if (size.isEmpty()) return {};
  QPixmap pm(static_cast<int>(std::ceil(size.width() * dpr)), static_cast<int>(std::ceil(size.height() * dpr)));
  pm.fill(Qt::transparent);
  {
    QPainter p(&pm);
    r->render(&p);
  }
  pm.setDevicePixelRatio(dpr);
  return pm;
}

QPixmap Icons::Pixmap(const QString& name, QSize size, qreal dpr) {
  if (!Renderer(name)) return {};
  if (size.isEmpty()) size = NaturalSize(name);
  const QString key = name + QLatin1Char('@') + QString::number(size.width()) + QLatin1Char('x') +
                      QString::number(size.height()) + QLatin1Char('@') + QString::number(dpr);
  auto& cache = TheStore().pixmaps;
  auto it = cache.find(key);
  if (it != cache.end()) return it.value();
  QPixmap pm = Render(name, size, dpr);
  cache.insert(key, pm);
  return pm;
}

QIcon Icons::Icon(const QString& name) {
  if (!Has(name)) return {};
  return QIcon(ResourcePath(name));
}

QPoint Icons::Hotspot(const QString& name) {
  QFile f(ResourcePath(name));
  if (!f.open(QIODevice::ReadOnly)) return {};
  static const QRegularExpression re(QStringLiteral("<!--\\s*hotspot:\\s*(\\d+)\\s+(\\d+)\\s*-->"));
  auto m = re.match(QString::fromUtf8(f.readAll()));
  if (!m.hasMatch()) return {};
  return QPoint(m.captured(1).toInt(), m.captured(2).toInt());
}

QCursor Icons::Cursor(const QString& name, Qt::CursorShape fallback) {
  if (!Has(name)) return QCursor(fallback);
  qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
  QPixmap pm = Pixmap(name, NaturalSize(name), dpr);
  QPoint hot = Hotspot(name);
  return QCursor(pm, hot.x(), hot.y());
}

}  // namespace kestro::gui
