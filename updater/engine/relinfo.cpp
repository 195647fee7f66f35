#include "relinfo.h"

std::string GetField(const std::string &, int, char) { return {}; }
std::string trimField(const std::string &text) { return text; }
bool ReadLocalRelInfo(RelInfoList &, const std::string &) { return false; }
bool ReadRemoteRelInfo(RelInfoList &, const std::string &) { return false; }
bool ListBackupFolder(const std::string &, RelInfoList &) { return false; }
bool isNewerRevision(const std::string &, const std::string &) { return false; }
bool SelectNewerFiles(const RelInfoList &, RelInfoList &, bool) { return false; }
bool WriteLocalRelInfo(RelInfoList &, const RelInfoList &, const std::string &) { return false; }
bool isSafeRelativeName(const std::string &) { return false; }
std::string localPathFor(const std::string &programFolder, const std::string &name) { return programFolder + "/" + name; }
