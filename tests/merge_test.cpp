#include <gtest/gtest.h>

#include "tests/test_support.h"
