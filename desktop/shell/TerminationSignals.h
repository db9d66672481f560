// SIGTERM, SIGINT and SIGHUP (session end, Ctrl+C) close the main window as its exit menu
// entry would, so the drive is stopped before the program ends.
#pragma once

class QWidget;

void CloseOnTerminationSignals(QWidget* window);
