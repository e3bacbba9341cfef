// The media a conversation shows and plays: the attachments' pictures, previews and files, and the
// audio of a voicemail or a recorded call with the speaker setting it plays on. They belong to
// HXMediaOperations, one object of the web client's made on first use, which is also the role the
// screens take for them (the conversation screen's attachment rows, its contact header and its
// voicemail player, the group details).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/value.h"

class HXApplicationWebClient;
class HXCCache;

// The attachments' pictures and media, and the audio the voicemail player plays.
class HXMediaRole {
public:
    virtual ~HXMediaRole() = default;
    // The object cache that holds thumbnails ("<id>") and full-size pictures ("<id>_ORIGINAL").
    virtual std::shared_ptr<HXCCache> mediaCache() = 0;
    // The thumbnail (s=3) of a picture; false when one is on its way already.
    virtual bool requestThumbnail(const std::string& mediaID) = 0;
    // arrived runs on the main queue once, when the thumbnail or the video preview of mediaID has
    // come or its request has ended.
    virtual void whenMediaArrives(const std::string& mediaID, std::function<void()> arrived) = 0;
    // The full-size picture (s=1): stored under "<id>_ORIGINAL", then
    // "kImageDownloadCompleteNotification" with {"image": the bytes, "id": the id}; a failed
    // download, or bytes that are no picture, store and post nothing.
    virtual void downloadFullSizeImageForAttachment(const std::string& mediaID, const std::string& mimeType) = 0;
    virtual void downloadMediaIfNeeded(const std::string& mediaID, const std::string& mimeType, bool forPreview) = 0;
    // The file a medium is kept in below the account's caches folder.
    virtual std::string localURLForMedia(const std::string& mediaID, const std::string& mimeType) = 0;
    // The entry of infoArray whose size spec is size, with its "index"; none when no entry has it.
    virtual std::optional<foundation::Dictionary> imageInfoForSize(const std::string& size,
                                                                   const foundation::Array& infoArray) = 0;

    // The voicemail player's: the audio of a voicemail or a recorded call fetched by its
    // conversation's id (a notification named by that id tells when the file is written), and the
    // speaker setting (a stored preference).
    virtual void downloadVMforID(const std::string& conversationID) = 0;
    virtual void downloadRecordedCallForID(const std::string& conversationID) = 0;
    virtual bool useSpeaker() const = 0;
    virtual void setUseSpeaker(bool on) = 0;
};

class HXMediaOperations final : public HXMediaRole {
public:
    explicit HXMediaOperations(std::weak_ptr<HXApplicationWebClient> app) : app_(std::move(app)) {}

    // The media operations of the application (made on first use, kept by its web client).
    static std::shared_ptr<HXMediaOperations> of(const std::shared_ptr<HXApplicationWebClient>& app);

    // ---- attachments: the object cache (the web client's own when a test gives one, else the
    // shared one), the requests of the media host (each once while it is on its way; nothing once
    // the web client is gone), and the files the replies are kept in
    std::shared_ptr<HXCCache> mediaCache() override;
    bool requestThumbnail(const std::string& mediaID) override;
    void whenMediaArrives(const std::string& mediaID, std::function<void()> arrived) override;
    void downloadFullSizeImageForAttachment(const std::string& mediaID, const std::string& mimeType) override;
    void downloadMediaIfNeeded(const std::string& mediaID, const std::string& mimeType,
                               bool forPreview = false) override;
    std::string localURLForMedia(const std::string& mediaID, const std::string& mimeType) override;
    std::optional<foundation::Dictionary> imageInfoForSize(const std::string& size,
                                                           const foundation::Array& infoArray) override;

    // ---- audio: a voicemail's ("v/") or a recorded call's ("cr/cra:") file by its conversation's id
    // (a leading "c." dropped), signed in only, once while it is on its way; and the speaker setting,
    // stored as the preference "useSpeaker"
    void downloadVMforID(const std::string& conversationID) override;
    void downloadRecordedCallForID(const std::string& conversationID) override;
    bool useSpeaker() const override;
    void setUseSpeaker(bool on) override;

private:
    std::shared_ptr<HXApplicationWebClient> app() const { return app_.lock(); }
    void downloadAudioForID(const std::string& mediaID, bool recordedCall);

    std::weak_ptr<HXApplicationWebClient> app_;
};
