#pragma once

// The default mode: builds the launcher window and runs the event loop on the calling (main)
// thread. Returns 0 when the window has been closed.
int runWindowMode(int argc, char** argv);
