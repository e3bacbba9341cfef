// What an attachment row shows and how large it is: pictures show their thumbnail and videos their
// preview (each asked for once per appearance when missing), contact cards the card drawn in the
// bubble, audio and other kinds a text.
#include "ui/conversation/attachment_rows.h"

#include <algorithm>
#include <cmath>

#include "model/cache.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/services/contacts.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/text_metrics.h"
#include "ui/conversation/conversation_table_view_cell.h"

namespace {

using foundation::localizedString;

// The cards of a contact-card attachment's file; none when the file is missing, unreadable or
// holds no card.
std::optional<std::vector<services::Contact>> cardsIn(const std::string& path) {
    auto bytes = foundation::files::readString(path);
    if (!bytes.ok()) return std::nullopt;
    auto cards = services::readVCards(bytes.value());
    if (!cards.ok() || cards.value().empty()) return std::nullopt;
    return std::move(cards).value();
}

bool isOrganisation(const services::Contact& c) { return c.contactType == services::ContactType::Organization; }

std::string cardTitle(const std::vector<services::Contact>& cards) {
    if (cards.size() > 1) return foundation::format(localizedString("%lu Contacts"), uint64_t{cards.size()});
    const auto& c = cards.front();
    if (isOrganisation(c)) return c.organizationName;
    return services::ContactFormatter::fullName(c).value_or(c.organizationName);
}

std::string cardText(const std::vector<services::Contact>& cards) {
    return foundation::format("%@\n%@", cardTitle(cards), localizedString("Tap to view"));
}

// The round place left of a card's title: the contact's picture, a symbol (several contacts, a
// company) or the initials.
std::shared_ptr<toolkit::Label> cardAvatar(toolkit::View& card, const std::vector<services::Contact>& cards,
                                           double rowHeight, const graphics::Color& textColour) {
    auto avatar = std::make_shared<toolkit::Label>(toolkit::Rect{12, (rowHeight - 40) / 2, 40, 40});
    avatar->setFont(graphics::Font::system(18, graphics::FontWeight::medium));
    avatar->setTextAlignment(toolkit::TextAlignment::center);
    avatar->setTextColor(textColour.withAlphaComponent(0.7));
    avatar->setBackgroundColor(graphics::Color::systemGray5());
    avatar->layer().cornerRadius = 20;
    avatar->setClipsToBounds(true);
    avatar->accessibility().isElement = false;
    card.addSubview(avatar);
    const auto& one = cards.front();
    auto symbol = [&](const char* name) {
        auto view = std::make_shared<toolkit::ImageView>(
            graphics::imageTintedWithColor(graphics::imageNamed(name), textColour.withAlphaComponent(0.7)));
        view->setFrame(avatar->frame());
        view->setContentMode(toolkit::ContentMode::Center);
        card.addSubview(view);
    };
    if (cards.size() > 1) {
        symbol("VCard");
    } else if (one.imageDataAvailable()) {
        const auto& bytes = one.thumbnailImageData ? *one.thumbnailImageData : *one.imageData;
        if (auto picture = graphics::Image::fromEncoded(bytes); picture.ok()) {
            auto round = std::make_shared<toolkit::ImageView>(
                graphics::makeRoundImage(graphics::imageScaledToFitSize(picture.value(), {40, 40})));
            round->setFrame(avatar->frame());
            round->accessibility().ignoresInvertColors = true;
            card.addSubview(round);
        }
    } else if (isOrganisation(one)) {
        symbol("VCard_Company");
    } else {
        avatar->setText(services::abbreviatedName(one.givenName, one.familyName));
    }
    return avatar;
}

bool isSized(const std::optional<toolkit::Size>& size) { return size && size->width > 0 && size->height > 0; }

// The white play sign centred over a video's preview.
void addPlaySign(toolkit::View& preview) {
    auto play = graphics::imageNamed("VM_play");
    if (!play) return;
    auto sign = std::make_shared<toolkit::ImageView>(play->withRenderingMode(graphics::RenderingMode::alwaysTemplate));
    sign->setTintColor(graphics::Color::whiteColor());
    sign->setTag(HXAttachmentRows::kPlaySignTag);
    const toolkit::Size size = sign->image() ? sign->image()->size() : toolkit::Size{0, 0};
    const toolkit::Rect b = preview.bounds();
    sign->setFrame({b.midX() - size.width / 2, b.midY() - size.height / 2, size.width, size.height});
    // Centred wherever the cell lays the preview out.
    sign->setAutoresizingMask(toolkit::kFlexibleLeftMargin | toolkit::kFlexibleRightMargin |
                              toolkit::kFlexibleTopMargin | toolkit::kFlexibleBottomMargin);
    sign->accessibility().isElement = false;
    preview.addSubview(sign);
}

}  // namespace

std::shared_ptr<HXAttachmentRows> HXAttachmentRows::make(Setup setup) {
    return std::shared_ptr<HXAttachmentRows>(new HXAttachmentRows(std::move(setup)));
}

HXAttachmentRows::~HXAttachmentRows() { stopAwaitingMedia(); }

std::optional<HXAttachmentRows::Thumbnail> HXAttachmentRows::thumbnailFor(const std::string& mediaID) {
    auto r = role();
    auto cache = r ? r->mediaCache() : nullptr;
    if (!cache || mediaID.empty()) return std::nullopt;
    auto object = cache->objectForKey(mediaID);
    if (!object) return std::nullopt;
    if (const auto* bytes = object->value.ifData())
        if (auto image = graphics::Image::fromEncoded(*bytes); image.ok()) return Thumbnail{*bytes, image.value()};
    // Whatever else is kept under the id stands for no picture: it goes, and the picture is asked
    // for again (once while the screen shows).
    cache->removeObjectForKey(mediaID);
    return std::nullopt;
}

void HXAttachmentRows::askForThumbnail(const HXAttachment& a) {
    auto r = role();
    if (!r || std::find(thumbnailsRequested_.begin(), thumbnailsRequested_.end(), a.id) != thumbnailsRequested_.end())
        return;
    thumbnailsRequested_.push_back(a.id);
    r->whenMediaArrives(a.id, [weak = weak_from_this(), id = a.id] {
        if (auto self = weak.lock()) self->mediaArrived(id);
    });
    if (a.kind == HXAttachmentKind::Video)
        r->downloadMediaIfNeeded(a.id, a.mimeType, true);
    else
        r->requestThumbnail(a.id);
}

void HXAttachmentRows::forgetAskedThumbnails(const std::string& mediaID) {
    if (mediaID.empty()) {
        thumbnailsRequested_.clear();
        filmsFirst_.clear();
    } else
        std::erase(thumbnailsRequested_, mediaID);
}

void HXAttachmentRows::mediaArrived(const std::string& mediaID) {
    auto tableView = table();
    if (!tableView || !setup_.textConversation) return;
    std::vector<toolkit::IndexPath> rows;
    std::optional<HXAttachment> video;
    for (long section = 0; section < tableView->numberOfSections(); ++section)
        for (long item = 0; item < tableView->numberOfRows(section); ++item)
            if (auto a = setup_.attachmentAt({section, item}); a && a->id == mediaID) {
                rows.push_back({section, item});
                if (a->kind == HXAttachmentKind::Video) video = a;
            }
    // A video's film and its preview picture are both announced by the video's id, and the film
    // (the list's prefetch asks for it too) may come first: its row then waits once more for the
    // picture. Once only, so a picture that is no picture is not asked for over and over.
    auto r = role();
    auto cache = r ? r->mediaCache() : nullptr;
    if (video && cache && !cache->objectForKey(mediaID) &&
        foundation::files::exists(r->localURLForMedia(mediaID, video->mimeType)) &&
        std::find(filmsFirst_.begin(), filmsFirst_.end(), mediaID) == filmsFirst_.end()) {
        filmsFirst_.push_back(mediaID);
        forgetAskedThumbnails(mediaID);
    }
    if (!rows.empty()) tableView->reloadRows(rows, toolkit::RowAnimation::None);
}

HXAttachmentRows::Shown HXAttachmentRows::configure(ConversationTableViewCell& cell, bool sent, const HXAttachment& a,
                                                    toolkit::IndexPath indexPath) {
    Shown shown;
    cell.setIsImage(a.knownKind());
    cell.messageView().setTextColor(sent ? graphics::Color::whiteColor() : graphics::Color::label());
    cell.messageView().setTintColor(sent ? graphics::Color::white(0.8, 1) : graphics::Color::systemBlue());
    cell.messageView().setTextAlignment(toolkit::TextAlignment::left);
    cell.messageView().setText(a.rowText());
    if (a.kind == HXAttachmentKind::Audio || a.kind == HXAttachmentKind::Video ||
        a.kind == HXAttachmentKind::ContactCard)
        cell.setIsImage(false);
    showThumbnail(cell, sent, a, shown);
    fitPicture(cell, sent, a, shown);
    if (a.kind == HXAttachmentKind::Picture || a.kind == HXAttachmentKind::Video)
        cell.addInteraction(makeDragInteraction());
    if (a.kind == HXAttachmentKind::ContactCard) drawContactCard(cell, sent, a, indexPath, shown);
    return shown;
}

void HXAttachmentRows::showThumbnail(ConversationTableViewCell& cell, bool sent, const HXAttachment& a, Shown& shown) {
    auto tableView = table();
    const double tableWidth = tableView ? tableView->bounds().width() : 0;
    switch (a.kind) {
        case HXAttachmentKind::Picture:
            if (auto thumbnail = thumbnailFor(a.id)) {
                if (a.isGIF()) {
                    const auto pixelWidth = static_cast<double>(thumbnail->image->pixelWidth());
                    shown.animated = graphics::HXCAnimatedImage::animatedImageWithGIFData(
                        thumbnail->bytes, hxGIFScale(pixelWidth, tableWidth));
                } else {
                    shown.image = thumbnail->image;
                }
            } else {
                askForThumbnail(a);
                // Not sized yet: its text, in the bubble, until the picture is in.
                if (a.sizes.empty()) {
                    shown.image = setup_.bubble(sent);
                    cell.setIsImage(false);
                }
            }
            break;
        case HXAttachmentKind::Video:
            if (auto thumbnail = thumbnailFor(a.id))
                shown.image = thumbnail->image;
            else
                askForThumbnail(a);
            shown.description = localizedString("Video attachment. Tap to play");
            break;
        case HXAttachmentKind::Audio:
        case HXAttachmentKind::ContactCard:
        case HXAttachmentKind::Unsupported:
            shown.image = setup_.bubble(sent);
            if (auto r = role(); r && !a.id.empty()) r->downloadMediaIfNeeded(a.id, a.mimeType, false);
            break;
    }
}

void HXAttachmentRows::fitPicture(ConversationTableViewCell& cell, bool sent, const HXAttachment& a, Shown& shown) {
    // A picture sized by itself, and a video's preview, fill the row's size exactly (its own size
    // within the row's limit; a video gets the play sign over it).
    const double V = setup_.viewWidth();
    auto fitted = [V](const graphics::ImagePtr& picture) {
        return graphics::imageCroppedToFitSize(picture, hxFittedVariantSize(picture->width(), picture->height(), V));
    };
    auto& image = shown.image;
    if (image && cell.isImage() && a.kind == HXAttachmentKind::Picture) {
        auto tableView = table();
        const double tableWidth = tableView ? tableView->bounds().width() : 0;
        image = a.sizes.empty() ? fitted(image)
                                : graphics::imageScaledToFitSize(
                                      image, {std::min(image->width(), std::max(1.0, tableWidth - 110)), 1e9});
        cell.messageView().setTextColor(graphics::Color::clear());
    }
    if (a.kind == HXAttachmentKind::Video) {
        // A video sized by its variants has its bubble's size before its preview comes: the
        // preview fills that size, and until it is in the bubble stands empty under the play sign
        // (its text would not fit). Without variants its text stands in the bubble of its side
        // until the preview, at its own size, takes its place.
        const auto variant = variantSize(a);
        const bool sized = isSized(variant);
        if (image)
            image = sized ? graphics::imageCroppedToFitSize(image, *variant) : fitted(image);
        else
            image = setup_.bubble(sent);
        if (image != setup_.bubble(sent) || sized) cell.messageView().setTextColor(graphics::Color::clear());
    }
}

void HXAttachmentRows::drawContactCard(ConversationTableViewCell& cell, bool sent, const HXAttachment& a,
                                       toolkit::IndexPath indexPath, Shown& shown) {
    auto r = role();
    if (!r) return;
    auto cards = cardsIn(r->localURLForMedia(a.id, a.mimeType));
    if (!cards) return;
    const graphics::Color textColour = sent ? graphics::Color::whiteColor() : graphics::Color::label();
    const toolkit::Size size = setup_.rowSize(indexPath);
    auto card = std::make_shared<toolkit::View>(toolkit::Rect{0, 0, size.width, size.height});
    card->setTag(kContactCardTag);
    auto title = std::make_shared<toolkit::Label>(toolkit::Rect{60, 0, size.width - 20 - 40, size.height});
    title->setTextColor(textColour);
    title->setNumberOfLines(0);
    title->setText(cardText(*cards));
    if (auto font = graphics::HXCFont::HXCFontForType(4)) title->setFont(*font);
    (void)cardAvatar(*card, *cards, size.height, textColour);
    card->addSubview(title);
    cell.contentView().addSubview(card);
    shown.description = foundation::format(localizedString("Contact card for %@. Tap to Open"), cardTitle(*cards));
    cell.messageView().setTextColor(graphics::Color::clear());
}

void HXAttachmentRows::shapeBubble(ConversationTableViewCell& cell, toolkit::View& background, const HXAttachment& a,
                                   bool sent, const graphics::ImagePtr& image) {
    if ((a.kind == HXAttachmentKind::Picture || a.kind == HXAttachmentKind::Video ||
         a.kind == HXAttachmentKind::ContactCard) &&
        !cell.contentView().viewWithTag(kContactCardTag)) {
        // A picture or a video takes the bubble's shape: the bubble's drawing (a sent one in its
        // own colours) masks it. A drawn contact card shows the bubble itself, unmasked. The cell
        // keeps the mask on the image view's bounds wherever it lays the view out.
        auto bubble = setup_.bubble(sent);
        auto mask = std::make_shared<toolkit::ImageView>(
            sent && bubble ? bubble->withRenderingMode(graphics::RenderingMode::alwaysOriginal) : bubble);
        mask->setFrame({0, 0, background.frame().width(), background.frame().height()});
        background.setMaskView(mask);
    }
    // The play sign over a video's preview, or over the empty bubble that keeps its place.
    if (a.kind == HXAttachmentKind::Video && image && (image != setup_.bubble(sent) || isSized(variantSize(a))))
        addPlaySign(background);
}

std::optional<toolkit::Size> HXAttachmentRows::variantSize(const HXAttachment& a) {
    auto r = role();
    if ((a.kind != HXAttachmentKind::Picture && a.kind != HXAttachmentKind::Video) || a.sizes.empty() || !r)
        return std::nullopt;
    auto info = r->imageInfoForSize("s512", a.sizes);
    if (!info) info = r->imageInfoForSize("S_512", a.sizes);
    if (!info) return toolkit::Size{0, 0};
    return hxFittedVariantSize(info->get("width").doubleValue(), info->get("height").doubleValue(), setup_.viewWidth());
}

std::optional<toolkit::Size> HXAttachmentRows::size(const HXAttachment& a, bool& cache) {
    const double V = setup_.viewWidth();
    // Size variants give the bubble of a picture, and of a video (the service announces its
    // preview's sizes), its size before the picture is in, so the rows keep their place while
    // pictures come. A document (such as a PDF, "[Unsupported Attachment]"), a sound or a contact
    // card shows a text or a card, sized as such below, whatever variants it carries.
    if (auto variant = variantSize(a)) return variant;
    switch (a.kind) {
        case HXAttachmentKind::Picture:
        case HXAttachmentKind::Video:
            // Without variants sized by the picture itself once it is in; until then by its text,
            // measured again when the row is shown next.
            if (auto thumbnail = thumbnailFor(a.id))
                return hxFittedVariantSize(thumbnail->image->width(), thumbnail->image->height(), V);
            askForThumbnail(a);
            cache = false;
            return std::nullopt;
        case HXAttachmentKind::ContactCard:
            return contactCardSize(a, cache);
        default:
            return std::nullopt;
    }
}

std::optional<toolkit::Size> HXAttachmentRows::contactCardSize(const HXAttachment& a, bool& cache) {
    auto r = role();
    const std::string path = r ? r->localURLForMedia(a.id, a.mimeType) : std::string();
    if (path.empty() || !foundation::files::exists(path)) {
        if (r) r->downloadMediaIfNeeded(a.id, a.mimeType, false);
        cache = false;
        return std::nullopt;
    }
    auto cards = cardsIn(path);
    if (!cards) return std::nullopt;
    auto font = graphics::HXCFont::HXCFontForType(4);
    const double W = setup_.availableWidth();
    const toolkit::Size size =
        font ? toolkit::textMeasurer().measure(cardText(*cards), *font, std::max(1.0, W - 110 - 60), 0,
                                               graphics::LineBreakMode::wordWrap)
             : toolkit::Size{0, 0};
    return toolkit::Size{std::ceil(size.width + 60 + 12), std::ceil(std::max(size.height + 23, 56.0))};
}
