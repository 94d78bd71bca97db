#pragma once

#include <chrono>
#include <map>
#include <string>

namespace bench {

// What one start of a program showed, timed from just before it was started.
struct StartUp {
  double qtSeconds = -1;     // until Qt's own start-up had loaded the probe
  double shownSeconds = -1;  // until the window was shown (its show event)
  double upSeconds = 0;      // until its window was shown and answered
  double boxSeconds = -1;    // until a message box came up first; -1 when none did
  std::string boxText;
  std::string title;
  int printerItems = -1;  // entries in the window's printer box; -1 when it has none
  // Processor time the program used from its start until it had ended on the request to quit:
  // unlike the times above, hardly touched by other work on the machine.
  double cpuSeconds = 0;
};

// Starts the program offscreen with the start-up probe loaded into it, asks it at once whether
// its window is up, and takes the time of the answer. "Shown and answers" means: a top-level
// window other than a message box is visible and exposed, and the program's own event loop has
// then answered a request that came from outside. A message box that comes first is answered
// with OK, as an operator would. The program is then asked to quit and must end with exit
// code 0. `environment` sets (or, with an empty value, removes) variables for it alone.
// Throws std::runtime_error with the reason when it does not come up within `bound`.
StartUp startAndWaitUntilUp(const std::string& program,
                            const std::map<std::string, std::string>& environment,
                            std::chrono::milliseconds bound);

}  // namespace bench
