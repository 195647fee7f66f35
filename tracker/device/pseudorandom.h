#pragma once

// A fresh pseudo-random integer from 0 to 32767, safe to call from any
// thread (each thread draws from its own generator).
int pseudoRandom32767();
