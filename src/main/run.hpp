#pragma once
// The whole run, from the command line to the exit status. The backend's entry point calls it.

namespace app {

int run();

}  // namespace app
