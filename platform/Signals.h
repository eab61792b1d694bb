// SIGTERM and SIGINT as events of the program's event loop: the handler writes the signal's
// number into a pipe that the loop watches, so the program ends in order (music stopped, windows
// closed) instead of dying mid-pass. A loop that does not get to it in time is cut short.
#pragma once

inline constexpr int kQuitGraceMs = 800;  // after this the process ends with 0 regardless
// A grace that never runs out: for a loop that always gets to the signal and must clean up
// before it ends (a half-written file).
inline constexpr int kQuitNoCutOff = 0x7fffffff;
// A screen-saver module: the host shows the desktop again only once its module has ended, and
// the module has nothing to save (its shared picture memory goes with the process however it
// ends), so it gets only a moment to stop its music.
inline constexpr int kModuleQuitGraceMs = 50;

// Installs the handlers; returns the pipe's read end for the event loop to watch, or -1 when no
// pipe could be made (the signals then keep their default action). Installing twice returns the
// same end.
int InstallQuitSignals(int graceMs = kQuitGraceMs);

// Empties the pipe; returns the last signal number read from it, 0 when there was none.
int TakeQuitSignal();

// Puts the default actions back, cancels a pending cut-off and closes the pipe (for tests).
void RemoveQuitSignals();
