// Build tool: renders the tray SVG into a PNG of the given size (the 1x and 2x pixmaps).
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s input.svg output.png size\n", argv[0]);
        return 2;
    }
    const int size = std::atoi(argv[3]);
    GError* error = nullptr;
    GdkPixbuf* image = gdk_pixbuf_new_from_file_at_size(argv[1], size, size, &error);
    if (image == nullptr || !gdk_pixbuf_save(image, argv[2], "png", &error, nullptr)) {
        std::fprintf(stderr, "%s\n", error != nullptr ? error->message : "cannot render");
        return 1;
    }
    g_object_unref(image);
    return 0;
}
