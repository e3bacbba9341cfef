// The alert of a refused access.
#include "ui/widgets/permission_alert.h"

#include "platform/foundation/bundle.h"
#include "platform/services/url_opener.h"

HXAlert hxPermissionAlert(std::string title, std::string message) {
    HXAlert alert{std::move(title), std::move(message), {}, {}};
    alert.actions.push_back({foundation::localizedString("Cancel"), HXAlertAction::Style::Cancel, {}});
    alert.actions.push_back({foundation::localizedString("Settings"), HXAlertAction::Style::Default,
                             [] { services::URLOpener::shared()->openURL(services::kOpenSettingsURLString); }});
    alert.preferredAction = 1;
    return alert;
}

HXAlert hxPhotoLibraryDeniedAlert() {
    return hxPermissionAlert(foundation::localizedString("Unable to access the Photo Library"),
                             foundation::localizedString("To enable access, go to Settings > Privacy > Photos and "
                                                         "allow 'Read and Write' access for HX Connect."));
}
