// Draws the compiled-in SVG icon at the window icon sizes.
#include "app/gtk/icon.h"

#include <gio/gio.h>

#include <cstddef>

// Generated from resources/icon/tachyra.svg at configure time.
extern const unsigned char g_abTachyraSvg[];
extern const size_t g_nTachyraSvgSize;

std::vector<GdkPixbuf*> LoadWindowIcons() {
    std::vector<GdkPixbuf*> vecIcons;
    if (g_nTachyraSvgSize == 0)
        return vecIcons;
    for (int nSize : {16, 32, 48, 64, 128}) {
        GInputStream* pStream =
            g_memory_input_stream_new_from_data(g_abTachyraSvg, g_nTachyraSvgSize, nullptr);
        GdkPixbuf* pIcon =
            gdk_pixbuf_new_from_stream_at_scale(pStream, nSize, nSize, TRUE, nullptr, nullptr);
        g_object_unref(pStream);
        if (pIcon != nullptr)
            vecIcons.push_back(pIcon);
    }
    return vecIcons;
}
