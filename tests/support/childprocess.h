#pragma once

class QProcess;

// Makes the program that process starts next end with the test that
// starts it (SIGKILL when the test's thread that started it dies), so a
// test that crashes or is killed leaves nothing behind that holds ctest's
// output pipe. Call before start(), on the thread that stays until the
// child has ended.
void endWithParent(QProcess &process);
