#pragma once

#include <string>
#include <vector>

// Splits a raw help listing into command-list entries: pieces ending at an
// LF, without the "HLP" echo and pieces shorter than 2 characters, leading
// white space removed, a trailing CR kept. Text after the last LF is dropped.
std::vector<std::string> parseCommandListing(const std::string &raw);

// Splits an entry "CMD: help" at its first colon. False (and nothing
// changed) when there is no colon or it is the first character.
bool splitCommandHelp(const std::string &entry, std::string &command, std::string &help);
