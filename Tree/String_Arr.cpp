#include "Tree/String_Arr.h"
