// Installing, querying, stopping and removing a service. A service is a systemd unit
// "<name>.service" in the unit folder: $QUELLAN_UNIT_DIR, else /etc/systemd/system for root
// and ~/.config/systemd/user for other users. systemctl (system or --user instance) is asked
// to reload, enable, query and stop units when it is on PATH; without it the unit files are
// still written and removed, and every service reads as stopped.
#pragma once

#include <string>

#include "platform/service/ServiceTypes.h"

struct ServiceHandle;
using SC_HANDLE = ServiceHandle*;

// The error code of the last failed call of this layer on this thread (an errno value).
int GetLastServiceError();

// Opens the service manager: makes sure the unit folder exists. nullptr on failure.
SC_HANDLE OpenSCManager();

// Opens an installed service; nullptr when it does not exist.
SC_HANDLE OpenService(SC_HANDLE manager, const std::string& name);

// Installs an automatically started service whose unit runs `commandLine`.
// nullptr on failure (also when it exists already: error EEXIST).
SC_HANDLE CreateService(SC_HANDLE manager, const std::string& name, const std::string& displayName,
                        const std::string& commandLine);

bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);

// Sends a control: SERVICE_CONTROL_STOP stops the unit; other controls only query.
bool ControlService(SC_HANDLE service, uint32_t control, SERVICE_STATUS* status);

// Starts the service's unit.
bool StartService(SC_HANDLE service);

// Disables the unit and removes its file.
bool DeleteService(SC_HANDLE service);

void CloseServiceHandle(SC_HANDLE handle);

// The unit folder in use.
std::string ServiceUnitFolder();
