#pragma once

#include <string>

// The private number in [0, 1) that places this installation in a phased
// release (revision/releasephase.h). It is drawn once from the system's
// random source and kept in the program folder as RelInfoLocal.phase,
// through the folder's one writer; it is never sent anywhere. The caller
// holds the program folder's lock.
//
// The number kept, or a new one kept from now on. When it cannot be kept,
// the number drawn serves this run and error says why.
double phaseNumber(const std::string &programFolder, std::string &error);
