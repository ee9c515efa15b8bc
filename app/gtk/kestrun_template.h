// Dialog template 102 for the GTK window.
#pragma once

#include "framework/gtk/dialog_template.h"

CGtkDialogTemplate KestrunDialogTemplate();
