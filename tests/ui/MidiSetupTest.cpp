// placeholder: replaced by the real tests
#include <gtest/gtest.h>
