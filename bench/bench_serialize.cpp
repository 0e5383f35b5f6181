#include <benchmark/benchmark.h>

#include "Tree/Tree_Node.h"

BENCHMARK_MAIN();
