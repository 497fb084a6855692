#include "CSDDL.h"

#include <gtest/gtest.h>
