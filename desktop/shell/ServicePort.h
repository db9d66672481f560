// The storage service's web port as the page reaches it. Users keep the page's default
// (8168); $QUELLAN_WEB_PORT names another one, so that tests and benchmarks can run services
// side by side on free ports. The drive program started from here inherits the same variable.
#pragma once

#include <QString>
#include <QtGlobal>

namespace service_port {

// `address` with ":PORT" appended when $QUELLAN_WEB_PORT holds a port number (1 to 65535) and
// the address names a host without a port; otherwise `address` as it is.
inline QString WithPort(const QString& address) {
  bool isNumber = false;
  const int port = qEnvironmentVariable("QUELLAN_WEB_PORT").toInt(&isNumber);
  if (!isNumber || port < 1 || port > 65535) return address;
  if (address.isEmpty() || address.contains(QLatin1Char(':'))) return address;
  return address + QLatin1Char(':') + QString::number(port);
}

}  // namespace service_port
