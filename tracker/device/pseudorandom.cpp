#include "pseudorandom.h"

#include <random>

int pseudoRandom32767()
{
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> range(0, 32767);
    return range(generator);
}
