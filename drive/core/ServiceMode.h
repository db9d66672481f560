// Installing, removing and running the drive program as the system service "Tarvex".
#pragma once

constexpr char kServiceName[] = "Tarvex";

// Installs the service; prints the outcome on the console.
void InstallService();

// Stops the service when it runs, then removes it; prints the outcome on the console.
void RemoveService();

struct DriveProcess;

// Hands the main thread to the service dispatcher, which runs the run routine on `drive`;
// ends the process (status 0) when the service has stopped.
[[noreturn]] void RunAsService(DriveProcess& drive);
