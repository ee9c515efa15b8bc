// The program's icon for the GTK window, drawn from the SVG compiled into the binary.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <vector>

// The icon at 16, 32, 48, 64 and 128 pixels (the caller owns the references); empty when
// the binary carries no icon or the system cannot draw SVG.
std::vector<GdkPixbuf*> LoadWindowIcons();
