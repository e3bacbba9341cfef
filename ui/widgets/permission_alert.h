// The alert of an access the user refused (the camera, the photo library): what was refused, how to
// allow it, "Cancel" and "Settings", which opens the app's page of the system's settings.
#pragma once

#include <string>

#include "model/alert.h"

HXAlert hxPermissionAlert(std::string title, std::string message);
// The photo library's refusal.
HXAlert hxPhotoLibraryDeniedAlert();
