#pragma once

namespace toolkit {

// Serves the window system's events, but not the operator's input, from inside a handler that
// runs long: windows are painted, moved and resized, and answer the window manager's pings, so
// no desktop marks them as not responding. Keys and clicks stay queued until the handler has
// returned, and are delivered then.
void keepWindowsAlive();

}  // namespace toolkit
