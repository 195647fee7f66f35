#pragma once

#include <string>
#include <vector>

// Puts the test program into a network namespace of its own, with only the
// loopback interface up, before it does anything else: nothing it runs
// (servers, look-ups, connects) can reach another machine, even by mistake.
// The program is started again through unshare(1) (as root --net, else
// --net --map-root-user); inside, loopback is brought up. Call first in
// main, before any thread starts. A program that cannot be isolated says
// why and ends with exit status 1.
void enterOwnNetwork(int argc, char **argv);

// The names of the network interfaces this process sees.
std::vector<std::string> networkInterfaces();
