// Sound adapters against the real libraries: FFmpeg, and the private sound server of
// tools/test-env.sh for the capture tests.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
