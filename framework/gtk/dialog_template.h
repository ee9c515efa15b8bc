// A dialog template for the GTK backend: the same controls, texts, positions (in dialog
// units) and tab order as the Windows dialog resource, as plain data.
#pragma once

#include <string>
#include <vector>

enum class EGtkControlKind { PushButton, Edit, GroupBox, Label, DropDownList };

struct CGtkControlDef {
    int nId; // -1 for controls without an id (labels, group boxes)
    EGtkControlKind kind;
    std::string strText;
    int x, y, cx, cy; // dialog units
    bool bTabStop;
    bool bDisabled;
    bool bSorted; // drop-down lists keep their items sorted
};

struct CGtkDialogTemplate {
    std::string strCaption;
    int cx, cy; // dialog units
    double dFontPoints;
    // In template order, which is also the tab order of the tab stops.
    std::vector<CGtkControlDef> controls;
};

// Dialog units to pixels, as Windows converts them: x * baseX / 4 and y * baseY / 8,
// rounded to the nearest pixel.
int DluToPixelsX(int nDlu, int nBaseX);
int DluToPixelsY(int nDlu, int nBaseY);
// Base units from a font's average width of the 52 Latin letters and its line height,
// by the rule Windows uses for dialog fonts.
int BaseUnitX(int nWidthOf52Letters);
