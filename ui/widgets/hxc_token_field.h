// The recipient field: a one-line text field that turns typed text into token bubbles
// (HXCToken), wraps them onto as many lines as they need after a "To:" prompt, grows its own
// height as the lines fill, and shows a one-line summary of the recipients when editing ends.
//
// The field's text is never empty: U+200B stands for "nothing typed" and U+200D for "a token is
// selected", so a backspace is seen even when nothing has been typed. Its own text-field delegate
// (HXCTokenFieldInternalDelegate) implements the token keys and passes every call on to the
// owner's delegate.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/toolkit/text_input.h"
#include "ui/widgets/hxc_token.h"

class HXCTokenField;

// Every operation is optional; the defaults are the answers of an owner that does not implement it.
class HXCTokenFieldDelegate : public toolkit::TextFieldDelegate {
public:
    // False drops the token. The owner may rewrite its title and represented object first.
    virtual bool tokenFieldWillAddToken(HXCTokenField& field, HXCToken& token) {
        (void)field, (void)token;
        return true;
    }
    virtual void tokenFieldDidAddToken(HXCTokenField& field, HXCToken& token) { (void)field, (void)token; }
    // False keeps the token.
    virtual bool tokenFieldWillRemoveToken(HXCTokenField& field, HXCToken& token) {
        (void)field, (void)token;
        return true;
    }
    virtual void tokenFieldDidRemoveToken(HXCTokenField& field, HXCToken& token) { (void)field, (void)token; }
};

// The base text field's delegate: the keyboard rules of the tokens, then the owner's answers.
class HXCTokenFieldInternalDelegate : public toolkit::TextFieldDelegate {
public:
    explicit HXCTokenFieldInternalDelegate(HXCTokenField* field) : tokenField(field) {}

    std::weak_ptr<HXCTokenFieldDelegate> delegate;
    HXCTokenField* tokenField;  // the field owns this delegate

    bool textFieldShouldBeginEditing(toolkit::TextField& field) override;
    void textFieldDidBeginEditing(toolkit::TextField& field) override;
    bool textFieldShouldEndEditing(toolkit::TextField& field) override;
    void textFieldDidEndEditing(toolkit::TextField& field) override;
    bool textFieldShouldClear(toolkit::TextField& field) override;
    bool textFieldShouldReturn(toolkit::TextField& field) override;
    // 1. backspace on an empty text selects the last token; 2. with a token selected the key
    // removes it (a character then replaces it, a backspace only deletes); 3. a tokenizing
    // character makes tokens of the text and is not inserted; 4. the owner answers.
    bool shouldChangeCharactersInRange(toolkit::TextField& field, toolkit::Range range,
                                       const std::string& replacement) override;
};

class HXCTokenField : public toolkit::TextField {
public:
    // U+200B: no typed text. U+200D: a token is selected.
    static constexpr std::string_view kEmptySentinel = "\u200B";
    static constexpr std::string_view kSelectedSentinel = "\u200D";
    // The field's own control events, in the range the platform leaves to applications.
    static constexpr unsigned kFrameWillChange = 1u << 24;
    static constexpr unsigned kFrameDidChange = 1u << 25;
    // How long a change of the field's height takes.
    static constexpr double kResizeDuration = 0.3;

private:
    struct MadeByMake {};

public:
    // The field with its prompt and sentinel text (a view gets subviews only once it is shared).
    static std::shared_ptr<HXCTokenField> make(const toolkit::Rect& frame = {});
    explicit HXCTokenField(MadeByMake);
    ~HXCTokenField() override;
    std::string className() const override { return "HXCTokenField"; }

    std::shared_ptr<HXCTokenFieldDelegate> tokenDelegate() const { return delegate_.lock(); }
    void setTokenDelegate(std::weak_ptr<HXCTokenFieldDelegate> delegate);
    HXCTokenFieldInternalDelegate& internalDelegate() { return *internalDelegate_; }

    // A token of the title in the field's font; nullptr (and nothing changes) for an empty title.
    std::shared_ptr<HXCToken> addTokenWithTitle(const std::string& title, foundation::Value representedObject = {});
    void addToken(const std::shared_ptr<HXCToken>& token);
    void removeToken(const std::shared_ptr<HXCToken>& token);
    void removeAllTokens();
    void selectToken(const std::shared_ptr<HXCToken>& token);
    void deselectSelectedToken();
    // Cuts the typed text at the tokenizing characters into tokens.
    void tokenizeText();

    // An empty text is kept as the empty-text sentinel.
    void setText(std::string text) override;
    void setFont(toolkit::Font font) override;
    // Replaces the platform's placeholder with a label of its own; "" removes it.
    void setPlaceholder(std::string placeholder) override;
    // nullopt removes the prompt.
    void setPromptText(std::optional<std::string> text);
    // The frame, then the tokens laid out again without animation.
    void setTokenFieldFrame(const toolkit::Rect& frame);

    bool becomeFirstResponder() override;
    bool canPerformAction(const std::string& action, toolkit::Responder* sender) const override;
    bool beginTracking(const toolkit::Touch& touch, const toolkit::Event* event) override;
    toolkit::Rect textRectForBounds(const toolkit::Rect& bounds) const override;
    toolkit::Rect editingRectForBounds(const toolkit::Rect& bounds) const override { return textRectForBounds(bounds); }
    toolkit::Rect placeholderRectForBounds(const toolkit::Rect& bounds) const override {
        return textRectForBounds(bounds);
    }
    toolkit::Rect leftViewRectForBounds(const toolkit::Rect& bounds) const override;
    toolkit::Rect rightViewRectForBounds(const toolkit::Rect& bounds) const override;
    void layoutSubviews() override;

    // Lays the tokens out; a new height is taken over 0.3 s (at once when not animated) with the
    // frame-will-change event inside the animation and frame-did-change when it has finished.
    void layoutTokensAnimated(bool animated);
    void setResultsModeEnabled(bool enabled, bool animated = true);

    std::vector<std::shared_ptr<HXCToken>> tokens() const { return tokens_; }
    std::vector<std::string> tokenTitles() const;
    // Per token its represented object, or its title when it has none.
    std::vector<foundation::Value> tokenObjects() const;
    double leftViewWidth() const;
    double rightViewWidth() const;
    toolkit::ScrollView* scrollView() const;
    int numberOfLines() const { return numberOfLines_; }
    std::shared_ptr<HXCToken> selectedToken() const { return selectedToken_.lock(); }
    toolkit::Point tokenCaret() const { return tokenCaret_; }
    toolkit::Label* placeholderLabel() const { return placeHolderLabel_.get(); }

    bool editable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }
    bool removesTokensOnEndEditing() const { return removesTokensOnEndEditing_; }
    void setRemovesTokensOnEndEditing(bool removes) { removesTokensOnEndEditing_ = removes; }
    bool forcePickSearchResult() const { return forcePickSearchResult_; }
    void setForcePickSearchResult(bool force) { forcePickSearchResult_ = force; }
    // The characters (code points of a UTF-8 text) at which typed text is cut.
    const std::string& tokenizingCharacters() const { return tokenizingCharacters_; }
    void setTokenizingCharacters(std::string characters) { tokenizingCharacters_ = std::move(characters); }
    bool resultsModeEnabled() const { return resultsModeEnabled_; }
    std::string description() const;

    // The needed height of the current tokens without touching the frame.
    double layoutTokensInternal();
    // The text with either sentinel taken off every piece, trimmed; what a token title is made of.
    static std::vector<std::string> piecesOfText(std::string_view text, std::string_view separators);

private:
    void commonSetup();
    void addTokenToView(const std::shared_ptr<HXCToken>& token);
    void showOrHidePlaceHolderLabel();
    void didChangeText();
    void didBeginEditing();
    void didEndEditing();
    void tokenTouchDown(const std::shared_ptr<HXCToken>& token);
    void tokenTouchUpInside(const std::shared_ptr<HXCToken>& token);
    double lineHeight() const;

    std::weak_ptr<HXCTokenFieldDelegate> delegate_;
    std::shared_ptr<HXCTokenFieldInternalDelegate> internalDelegate_;
    std::vector<std::shared_ptr<HXCToken>> tokens_;
    toolkit::Point tokenCaret_{};
    std::shared_ptr<toolkit::Label> placeHolderLabel_;
    bool editable_ = true;
    bool resultsModeEnabled_ = false;
    bool removesTokensOnEndEditing_ = true;
    bool forcePickSearchResult_ = false;
    int numberOfLines_ = 1;
    std::weak_ptr<HXCToken> selectedToken_;
    std::string tokenizingCharacters_ = ",";
    double laidOutWidth_ = -1;
    // The touch actions the field put on each token it holds.
    std::map<const HXCToken*, std::pair<int, int>> tokenActions_;
};
