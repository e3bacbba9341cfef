// A conversation as an e-mail: what the web client hands to the mail composer (through the
// application object) once the page of the conversation is filled.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

struct HXMailAttachment {
    foundation::Data data;
    std::string mimeType;
    std::string fileName;
};

struct HXMailDraft {
    std::string subject;
    // The filled page, HTML.
    std::string htmlBody;
    std::vector<HXMailAttachment> attachments;
};
