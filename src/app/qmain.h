#pragma once

// The program's main function: builds the application and the main window,
// shows the window and runs the event loop. Returns the loop's exit code.
int qMain(int argc, char** argv);
