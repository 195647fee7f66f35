#pragma once

#include <string>

// A program path as the host passes it: either the installed program file
// or the folder that holds it.
struct ProgramPath
{
    std::string folder; // no trailing separator; never empty
    std::string name;   // bare file name; empty when the path names a folder
};

// Splits a program path into folder and program name, keeping the case.
// The path names a program when it contains ".exe" or names an existing
// regular file; otherwise it names a folder. An empty folder part becomes
// currentDir (the process's current directory when currentDir is empty).
ProgramPath splitProgramPath(const std::string &path,
                             const std::string &currentDir = std::string());
