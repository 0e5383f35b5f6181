#include "Tree/Tree_Node.h"
