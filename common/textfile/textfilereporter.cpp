#include "textfilereporter.h"

ITextFileReporter::~ITextFileReporter() = default;
