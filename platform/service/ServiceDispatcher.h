// Running as a service: the dispatcher runs the service main on a thread of its own and turns
// the process's termination signals into controls: SIGTERM → stop, SIGINT and SIGHUP →
// shutdown. It returns once the service has reported the stopped state.
#pragma once

#include <string>

#include "platform/service/ServiceTypes.h"

using LPSERVICE_MAIN_FUNCTION = void (*)(int argc, char** argv);
using LPHANDLER_FUNCTION = void (*)(uint32_t control);

struct SERVICE_TABLE_ENTRY {
  const char* lpServiceName;
  LPSERVICE_MAIN_FUNCTION lpServiceProc;
};

struct ServiceStatusHandleRecord;
using SERVICE_STATUS_HANDLE = ServiceStatusHandleRecord*;

// Runs the first service of the table (terminated by an entry of nulls). Blocks until the
// service reports SERVICE_STOPPED; the service main's thread is then left to the process's
// end. Returns false when the table is empty.
bool StartServiceCtrlDispatcher(const SERVICE_TABLE_ENTRY* table);

// Registers the control handler of the running service; nullptr outside the dispatcher.
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const char* name, LPHANDLER_FUNCTION handler);

// Reports the service's status to the dispatcher.
bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status);
