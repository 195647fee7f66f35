#pragma once

#include "version.h"

// Fixed texts of the update library's boxes.

// 58 hyphen-minus characters and a line break.
constexpr const char *kRuleLine = "----------------------------------------------------------\n";

constexpr const char *kToolVersion = MORAVEL_VERSION;
constexpr const char *kCheckHead = " Message from: <Moravel>-Tool  V ";
constexpr const char *kCheckNewerFiles = " There are some newer files on the server:\n\n";
constexpr const char *kCheckOverflow = " ... and more ... \n";
constexpr const char *kCheckNothingNewer = " Your programm is working with the latest version!\n\n";
constexpr const char *kCheckQuestion =
    " Click <yes> to see the NORVANE update notes \n and to start the installation procedure ...";
constexpr const char *kCheckNoConnection =
    "No connection to the NORVANE ftp server!\nSwitch off the automatic updates!";
constexpr const char *kCheckException = "Error in ftp connection";
// %s: the FTP client's host name.
constexpr const char *kReleaseNotesCaption =
    " <<<  Last Software Updates on <%s>  (NORVANE AG Westmark)  >>>";
