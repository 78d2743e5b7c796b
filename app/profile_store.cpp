#include "app/profile_store.h"
