// The main screen's scale (pixels per point), which image contexts opened "at the main screen's
// scale" use. The toolkit sets it from its screen profile; tests set it directly. Default 2.
#pragma once

namespace graphics {

double mainScreenScale();
// Values that are not positive and finite are ignored.
void setMainScreenScale(double scale);

}  // namespace graphics
