#include "ui/shell/ui_screens.h"
