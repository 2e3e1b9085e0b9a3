// Placeholder until the stream cipher lands.
#include <gtest/gtest.h>
