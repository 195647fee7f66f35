#pragma once

// Ends the library's own work before the host process tears itself down:
// the exit handlers of the C library and of the libraries loaded since
// (OpenSSL's clean-up, Qt's globals) must not run under a live worker.
//
// The closing step runs once, at the first of: the application's
// aboutToQuit, the application object's destruction (its post routines),
// and the process's exit handlers. A host without a Qt application of its
// own has only the last, which runs handlers in the reverse order of their
// registration; so the handler is registered again whenever a library that
// registers its own may have come in since.
namespace LibraryClosing {

using Step = void (*)();

// Sets the closing step and installs the hooks; later calls only register
// the exit handler again. Call on the user-interface thread, with the
// application object made.
void install(Step closeDown);

// Registers the exit handler again, so that it runs before every exit
// handler registered so far. Callable from any thread.
void armExitHandler();

// Runs the closing step unless it ran already.
void closeNow();

} // namespace LibraryClosing
