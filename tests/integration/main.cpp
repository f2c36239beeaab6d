// Integration tests run against the real GTK and WebKitGTK, under the X server of tools/test-env.sh.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdio>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (at build time) needs no display.
    if (!GTEST_FLAG_GET(list_tests) && !gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "no display: run the integration tests through tools/test-env.sh\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
