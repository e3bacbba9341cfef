// The note editor: the private note of one conversation on a paper image, saved into the store
// locally (never sent to the service). On the tablet it is a popover a tap outside closes: the
// text typed so far waits in the application object's popover cache and comes back when the same
// conversation's note is opened again.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/roles/screen_roles.h"
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/view_controller.h"

namespace toolkit {
class ImageView;
}

class VC_NoteEdit : public toolkit::ViewController, public toolkit::TextViewDelegate {
public:
    struct Roles {
        std::weak_ptr<HXConversationRole> conversation;
        std::weak_ptr<HXRoutingRole> routing;
        std::weak_ptr<HXNoteDraftRole> noteDraft;
    };
    static const toolkit::KeyCommand kEscapeCommand;
    static const toolkit::KeyCommand kCloseCommand;
    static const toolkit::KeyCommand kSaveCommand;

    VC_NoteEdit(Roles roles, std::string conversationID);
    ~VC_NoteEdit() override;
    std::string className() const override { return "VC_NoteEdit"; }
    const std::string& conversationID() const { return conversationID_; }

    toolkit::TextView& note() const { return *note_; }
    void loadView() override;
    void viewDidLoad() override;
    // The paper and the note start below the bar (no extended layout edges).
    void viewDidLayoutSubviews() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    std::vector<toolkit::KeyCommand> keyCommands() const override;
    void save();
    void cancel();
    void textViewDidChange(toolkit::TextView& view) override;
    void keyboardFrameChange(const foundation::Notification& notification);
    void fontsUpdated();

private:
    bool onTablet() const;
    // The stored note ("" for none).
    std::string storedNote() const;

    Roles roles_;
    std::string conversationID_;
    std::shared_ptr<toolkit::TextView> note_;
    std::shared_ptr<toolkit::ImageView> background_;
};
