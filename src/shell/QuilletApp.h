#pragma once

#include "app/AppConfig.h"
#include "app/AppServices.h"

#include <functional>

// The application's whole life: the application object, the single-instance hand-over of a
// "quillet:" link, the services, the main window, the launch work and the event loop, until
// it quits (through the menu, or on SIGTERM or SIGINT). Everything it made is destroyed in
// order before it returns, so the store is closed and the archive written.
namespace QuilletApp {

// makeConfig is called once the application object exists. Returns the exit status: 1 when
// the store cannot be opened ("Failed to open Quillet store: <error>" is logged).
int run(int argc, char* argv[], const std::function<AppServices::Config()>& makeConfig);

} // namespace QuilletApp
