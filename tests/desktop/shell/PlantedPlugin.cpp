// A Qt plugin as someone else might plant it in a folder: it claims the headless platform's
// key, and being loaded leaves a marker file at $QUELLAN_PLANTED_MARKER.
#include <QObject>
#include <QtPlugin>
#include <cstdlib>
#include <fstream>

namespace {

__attribute__((constructor)) void LeaveMarker() {
  if (const char* marker = std::getenv("QUELLAN_PLANTED_MARKER"))
    std::ofstream(marker) << "loaded\n";
}

}  // namespace

class PlantedPlugin : public QObject {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE
                        "PlantedPlugin.json")
};

#include "PlantedPlugin.moc"
