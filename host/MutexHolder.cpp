#include "host/MutexHolder.h"

int MutexHolder::s_default_toggle = 0;
