// Build tool: draws an SVG file as a square PNG of the given size.
//   tachyra-render-icon input.svg SIZE output.png
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s input.svg SIZE output.png\n", argv[0]);
        return 2;
    }
    const int nSize = std::atoi(argv[2]);
    GError* pError = nullptr;
    GdkPixbuf* pIcon = gdk_pixbuf_new_from_file_at_scale(argv[1], nSize, nSize, TRUE, &pError);
    if (pIcon == nullptr) {
        std::fprintf(stderr, "%s: %s\n", argv[1], pError != nullptr ? pError->message : "?");
        return 1;
    }
    if (gdk_pixbuf_get_width(pIcon) != nSize || gdk_pixbuf_get_height(pIcon) != nSize) {
        std::fprintf(stderr, "%s: not square\n", argv[1]);
        return 1;
    }
    if (!gdk_pixbuf_save(pIcon, argv[3], "png", &pError, nullptr)) {
        std::fprintf(stderr, "%s: %s\n", argv[3], pError != nullptr ? pError->message : "?");
        return 1;
    }
    g_object_unref(pIcon);
    return 0;
}
