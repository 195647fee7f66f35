#pragma once

#include "../../common/prompt/prompt.h"
