#include "engine/paths.h"
