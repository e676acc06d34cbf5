#pragma once

#include <initializer_list>

namespace qm {

// The self-pipe for signals: a caught signal writes one byte into a pipe
// (all a signal handler may safely do), and the program's loop watches the
// pipe's read end. One pipe a process, made by the first call.

// Catches `signalNumbers` from now on. `restart`: system calls interrupted by
// them resume (SA_RESTART). Returns the pipe's read end (non-blocking), or -1
// when no pipe could be made (errno says why; the signals then keep their
// default action).
int catchSignalsInPipe(std::initializer_list<int> signalNumbers, bool restart);

// The pipe's read end, -1 while there is none.
int signalPipeReadEnd();

// Reads away every byte waiting in the pipe.
void drainSignalPipe();

// Closes the pipe; the signals caught keep writing into nothing.
void closeSignalPipe();

} // namespace qm
