// "Forward as Email": one conversation as an HTML page filled into the bundle's template, with
// pictures inline and audio, video and contact cards as files, handed to the mail composer. For a
// voicemail whose audio is not here yet, the user may download it first.
//
// Everything taken from the conversation (message texts, names, numbers, the note, types) is
// escaped for HTML before it goes into the page: a message that holds markup is shown as the
// text it is, and cannot add images, links or forms to the user's own mail.
#include "service/conversation_email.h"

#include <filesystem>
#include <memory>

#include "model/account.h"
#include "model/alert.h"
#include "model/cache.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/base64.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/graphics/screen_scale.h"
#include "platform/net/cookie.h"
#include "platform/net/url_session.h"
#include "service/application_web_client.h"
#include "service/conversation_operations.h"
#include "service/conversation_store.h"
#include "service/custom_cookie_jar.h"
#include "service/request_machinery.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

namespace CS = HXConversationStore;
using foundation::Value;

const std::string kNoBreakSpace = "\u00A0";

std::string withLineBreaks(std::string_view text) { return foundation::replaceAll(text, "\n", "<br />"); }

// "%%" would read as the start of a placeholder of the template.
std::string withoutPlaceholderMarks(std::string_view text) { return foundation::replaceAll(text, "%%", "&#37;&#37;"); }

std::string base64PNG(const graphics::ImagePtr& image) {
    auto png = graphics::pngRepresentation(image);
    return png ? foundation::base64Encode(*png) : std::string();
}

std::string formattedDate(double secondsSince1970) {
    foundation::DateFormatter formatter;
    formatter.setDateStyle(foundation::DateFormatter::Style::Short);
    formatter.setTimeStyle(foundation::DateFormatter::Style::Short);
    return formatter.string(foundation::Date{secondsSince1970});
}

// The bubble behind incoming (mirrored, light grey) or outgoing (blue) messages.
graphics::ImagePtr bubbleImage(bool incoming) {
    auto balloon = graphics::imageNamed("BalloonFlat");
    if (!balloon) return nullptr;
    if (!incoming)
        return graphics::imageTintedWithColor(balloon, graphics::Color::systemBlue().withAlphaComponent(0.5));
    auto tinted = graphics::imageTintedWithColor(balloon, graphics::Color::white(0.8, 0.5));
    if (!tinted) return nullptr;
    const graphics::Size size = tinted->size();
    graphics::beginImageContext(size, false, graphics::mainScreenScale());
    auto* context = graphics::currentContext();
    if (context) {
        context->translate(size.width, 0);
        context->scaleBy(-1, 1);
        context->drawImage(*tinted, graphics::Rect{0, 0, size.width, size.height});
    }
    auto mirrored = graphics::imageFromCurrentImageContext();
    graphics::endImageContext();
    return mirrored;
}

// ") t r b l": the end of the CSS image URL and its slice widths in pixels.
std::string bubbleSlices(int top, int right, int bottom, int left) {
    const double s = graphics::mainScreenScale();
    return foundation::format(") %i %i %i %i", static_cast<int64_t>(s * top), static_cast<int64_t>(s * right),
                              static_cast<int64_t>(s * bottom), static_cast<int64_t>(s * left));
}

// S, the other party as the user knows it (raw text; "" when it is only a number).
std::string otherParty(const store::ManagedObjectPtr& c) {
    const std::string sender = c->value("sender").asString();
    std::string name = c->value("ABName").asString();
    if (sender == "Group Message") return name;
    if (!name.empty()) {
        if (c->value("phoneNumber").asString().empty()) {
            const size_t at = name.rfind(kNoBreakSpace + "(");
            if (at != std::string::npos) name = name.substr(0, at);
        }
        return name;
    }
    return sender.find_first_not_of("1234567890-+()*# ") != std::string::npos ? sender : std::string();
}

}  // namespace

void HXConversationOperations::createEmailForConversationWithID(const std::string& conversationID) {
    auto app = this->app();
    if (!app || !app->canSendMail()) return;
    auto conversation = app->getConversationWithID(conversationID);
    if (!conversation) return;
    auto templatePath = foundation::Bundle::main().pathForResource("Conversation", "html");
    if (!templatePath) return;
    auto templateData = foundation::files::readData(*templatePath);
    if (!templateData.ok()) return;
    std::string page(templateData.value().begin(), templateData.value().end());

    const auto& c = conversation;
    const int64_t type = c->value("type").int64Value();
    const bool text = CS::isTextType(type);
    const bool group = c->value("sender").asString() == "Group Message";
    const std::string note = c->value("note").asString();
    const std::string party = otherParty(c);
    auto account = app->account();
    const bool signedIn = account && account->authV2().has_value();

    // The number line: the conversation's number, or each member of a group with its name.
    std::string numberLine;
    if (group) {
        for (const std::string& number : foundation::split(c->value("phoneNumber").asString(), "|")) {
            const std::string formatted = PhoneExtensions::formattedPhoneNumberFromString(number);
            const std::string name = app->contactNameForNumber(formatted);
            std::string line = name.empty() ? foundation::htmlEscaped(formatted)
                                            : foundation::format("%@: %@", foundation::htmlEscaped(name),
                                                                 foundation::htmlEscaped(formatted));
            numberLine += (numberLine.empty() ? "" : "<br /> ") + line;
        }
    } else {
        numberLine = foundation::htmlEscaped(c->value("formattedNumber").asString());
    }
    numberLine = withoutPlaceholderMarks(numberLine);

    // The message blocks, with the files they refer to.
    const std::string inTemplate = text ? "<div class='msg_in'><div class='msg_text'>%@</div></div>"
                                        : "<div class='msg'><div class='msg_text'>%@</div></div>";
    const std::string outTemplate =
        "<div class='clearfix'><div class='msg_out'><div class='msg_text'>%@</div></div></div>";
    auto& web = HXWebClientOf(*app);
    auto cache = web.objectCache ? web.objectCache : HXCCache::sharedCache();
    std::vector<std::string> audio, video, cards;
    std::string blocks;
    for (const auto& m : CS::sortedMessages(c)) {
        const bool outgoing = m->value("from").boolValue();
        const std::string date = m->value("date").asString();
        if (!date.empty()) {
            blocks += foundation::format("<div class='date'>%@</div>", foundation::htmlEscaped(date));
        } else if (signedIn) {
            // Whole seconds: the number counts milliseconds.
            const int64_t seconds = m->value("number").int64Value() / 1000;
            const std::string time = formattedDate(static_cast<double>(seconds));
            if (!outgoing && group) {
                std::string who = m->value("senderName").asString();
                if (who.empty()) who = m->value("senderNumber").asString();
                blocks += foundation::format("<div class='date'>%@<br />%@</div>", foundation::htmlEscaped(time),
                                             foundation::htmlEscaped(who));
            } else {
                blocks += foundation::format("<div class='date'>%@</div>", foundation::htmlEscaped(time));
            }
        }
        const std::string message = m->value("message").asString();
        if (!message.empty()) {
            if (text)
                blocks += foundation::format(outgoing ? outTemplate : inTemplate,
                                             withLineBreaks(foundation::htmlEscaped(message)));
            else
                blocks += foundation::format(inTemplate, foundation::htmlEscaped(message));
        }
        const Value attachments = m->value("attachments");
        if (!attachments.isArray()) continue;
        for (const Value& a : attachments.asArray()) {
            const std::string id = a["id"].asString();
            const std::string mime = a["mimeType"].asString();
            // A file of the attachment joins its list; the label names it as it will be attached.
            auto fileLabel = [&](std::vector<std::string>& list, const char* name, const char* missing,
                                 const std::string& fileMime) {
                const std::string path = app->localURLForMedia(id, fileMime);
                if (!foundation::files::exists(path)) return std::string(missing);
                const std::string fill =
                    list.empty() ? std::string() : foundation::format("-%lu", static_cast<int64_t>(list.size()));
                list.push_back(path);
                return foundation::format(name, fill);
            };
            std::string label;
            if (foundation::hasPrefix(mime, "audio/")) {
                label = fileLabel(audio, "[Audio%@.mp3]", "[AUDIO]", mime);
            } else if (foundation::hasPrefix(mime, "video/")) {
                label = fileLabel(video, "[Video%@.mov]", "[VIDEO]", mime);
            } else if (mime == "text/x-vcard") {
                label = fileLabel(cards, "[Contact Card%@.vcf]", "[CONTACT CARD]", "text/x-vcard");
            } else {
                label = "[IMAGE]";
                if (foundation::hasPrefix(mime, "image/")) {
                    HXCCache::Object object = id.empty() ? nullptr : cache->objectForKey(id + "_ORIGINAL");
                    if (!object && !id.empty()) object = cache->objectForKey(id);
                    if (object && !object->value.ifData() && !id.empty()) object = cache->objectForKey(id);
                    if (object && object->value.ifData())
                        label = foundation::format("<img src='data:%@;base64,%@' style='max-width:426px' />",
                                                   foundation::htmlEscaped(mime),
                                                   foundation::base64Encode(*object->value.ifData()));
                    else if (!object)
                        label = foundation::htmlEscaped(
                            foundation::format(localized("[Unsupported Attachment]\n(%@)"), mime));
                }
            }
            blocks += foundation::format(outgoing ? outTemplate : inTemplate, label);
        }
    }

    // The page, placeholder by placeholder in this order.
    auto icon = graphics::imageNamed("IconLarge");
    icon = graphics::makeRoundedImageWithRadius(graphics::imageScaledToFitSize(icon, graphics::Size{57, 57}), 10);
    const std::string noteImage = note.empty() ? std::string() : base64PNG(graphics::imageNamed("note"));
    const std::string bubbleIn = text ? base64PNG(bubbleImage(true)) + bubbleSlices(16, 15, 15, 23) : std::string();
    const std::string bubbleOut = text ? base64PNG(bubbleImage(false)) + bubbleSlices(16, 23, 15, 15) : std::string();
    const std::string sender = foundation::format("%@%@<span style='font-weight:normal'>%@</span>",
                                                  withoutPlaceholderMarks(foundation::htmlEscaped(party)),
                                                  party.empty() ? "" : "<br />", numberLine);
    const Value lastdate = c->value("lastdate");
    const std::string when =
        foundation::htmlEscaped(formattedDate(lastdate.ifDate() ? lastdate.ifDate()->secondsSince1970 : 0));
    const std::string noteBlock =
        note.empty() ? std::string()
                     : withoutPlaceholderMarks(foundation::format("<div>\u00A0</div><div class='note'>%@</div>",
                                                                  withLineBreaks(foundation::htmlEscaped(note))));
    const std::pair<const char*, std::string> fills[] = {
        {"%%ICON%%", base64PNG(icon)},
        {"%%NOTE_IMAGE%%", noteImage},
        {"%%BUBBLE_IN_IMAGE%%", bubbleIn},
        {"%%BUBBLE_OUT_IMAGE%%", bubbleOut},
        {"%%MSG_TYPE%%", localized(text ? "SMS Conversation" : "Voicemail Message")},
        {"%%MSG_SENDER%%", sender},
        {"%%MSG_DATE%%", when},
        {"%%NOTE%%", noteBlock},
        {"%%MSGS%%", blocks},
    };
    for (const auto& [placeholder, fill] : fills) page = foundation::replaceAll(page, placeholder, fill);

    auto draft = std::make_shared<HXMailDraft>();
    draft->subject = foundation::format("%@ %@ %@", localized(text ? "SMS Conversation" : "Voicemail Message"),
                                        localized(text ? "with" : "from"),
                                        party.empty() ? c->value("formattedNumber").asString() : party);
    draft->htmlBody = std::move(page);
    auto attachFiles = [&](const std::vector<std::string>& files, const char* name, const char* mime) {
        for (size_t i = 0; i < files.size(); ++i) {
            auto data = foundation::files::readData(files[i]);
            if (!data.ok()) continue;
            const std::string fill = i == 0 ? std::string() : foundation::format("-%d", static_cast<int64_t>(i));
            draft->attachments.push_back({std::move(data).value(), mime, foundation::format(name, fill)});
        }
    };
    attachFiles(cards, "Contact Card%@.vcf", "text/x-vcard");
    attachFiles(video, "Video%@.mov", "video/quicktime");
    attachFiles(audio, "Audio%@.mp3", "audio/mpeg3");

    if (text) {
        app->presentMailController(*draft);
        return;
    }
    // The voicemail's own audio.
    const std::string id = c->value("conversationID").asString();
    const std::string ownAudio = app->localURLForMedia(id, "audio/");
    if (auto data = foundation::files::readData(ownAudio); data.ok()) {
        draft->attachments.push_back({std::move(data).value(), "audio/mpeg3", "Audio.mp3"});
        app->presentMailController(*draft);
        return;
    }
    std::weak_ptr<HXApplicationWebClient> weak = app_;
    auto present = [weak, draft] {
        dispatch::Queue::main()->async([weak, draft] {
            if (auto self = weak.lock()) self->presentMailController(*draft);
        });
    };
    auto download = [weak, draft, id, ownAudio, present] {
        auto self = weak.lock();
        if (!self) return;
        auto& w = HXWebClientOf(*self);
        std::optional<std::string> cookie;
        if (auto jar = self->cookieJar()) {
            std::lock_guard lock(jar->lock());
            if (auto cookies = jar->cookiesForURL(w.endpoints.servicePageBase()))
                cookie = net::Cookie::requestHeaderValue(*cookies);
        }
        // Without the session's cookies the service cannot be asked: the mail goes without audio.
        if (!cookie) return present();
        net::URLSessionConfiguration configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
        configuration.httpAdditionalHeaders.set("Referer", w.endpoints.servicePageBase());
        configuration.httpAdditionalHeaders.set("Accept-Encoding", "gzip, deflate");
        configuration.httpAdditionalHeaders.set("Cookie", *cookie);
        auto session = net::URLSession::sessionWithConfiguration(std::move(configuration));
        const std::string folder = self->cachesFolderForUser(self->currentUsername());
        auto task = session->dataTaskWithURL(
            w.endpoints.mediaBase() + "v/" + id,
            [session, draft, folder, ownAudio, present](const foundation::Data& data,
                                                        const std::optional<net::HTTPURLResponse>& response,
                                                        const std::optional<foundation::Error>& error) {
                session->finishTasksAndInvalidate();
                // Only the service's audio is kept and mailed: an error page is neither.
                const bool ok =
                    !error && response && response->statusCode >= 200 && response->statusCode < 300 && !data.empty();
                if (ok) {
                    std::error_code ec;
                    std::filesystem::create_directories(folder, ec);
                    if (foundation::files::writeAtomically(ownAudio, data).ok())
                        draft->attachments.push_back({data, "audio/mpeg3", "Audio.mp3"});
                }
                present();
            });
        task->resume();
    };
    HXAlert alert{
        localized("Missing Audio"),
        localized("The audio for this message has not yet been downloaded. In order to add it as an attachment for "
                  "the email message, it needs to be downloaded first."),
        {{localized("Download"), HXAlertAction::Style::Default, download},
         {localized("Ignore"), HXAlertAction::Style::Cancel, present}},
        std::nullopt};
    app->presentAlert(alert);
}
