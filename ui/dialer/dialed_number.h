// The dial pad's number as the user types it: the text shown (formatted as it grows) and the
// rules of typing on it. The pad owns one and shows its text; the rules need no screen, so they
// are tested as a table.
#pragma once

#include <string>
#include <string_view>

class HXDialedNumber {
public:
    // The characters a number keeps; "," is a pause.
    static constexpr std::string_view kCharacters = "1234567890+*#,";

    const std::string& shown() const { return shown_; }
    bool empty() const { return shown_.empty(); }
    // The shown text reduced to kCharacters.
    std::string filtered() const { return filter(shown_); }
    static std::string filter(std::string_view text);

    // Shows a text as it is (one formatted already).
    void show(std::string text) { shown_ = std::move(text); }
    // Shows a number formatted: a picked contact's phone, a favourite's number.
    void showFormatted(std::string_view number);
    // Shows the kept characters of a text, formatted (the last dialled number as stored).
    void showFiltered(std::string_view text);
    // Shows a pasted text: keypad letters become their digits, then formatted.
    void paste(std::string_view text);
    // Formats the shown text again (the region's formats changed).
    void reformat();
    void clear() { shown_.clear(); }

    // A key's character (digits, "*", "#", the long press's "+") goes at the end.
    void append(std::string_view character);
    // The long press's pause: the first of a number comes with a space before it (" ,").
    void appendPause();
    // The delete key: the last kept character goes; nothing is shown once none is left.
    void deleteLast();

    // The number the call key calls for a shown text: a local seven-digit number (8 characters
    // once formatted) takes the area code of an own number starting "+1".
    static std::string numberToCall(const std::string& shown, const std::string& ownNumber);
    // The number the contact lookup searches for a shown text.
    static std::string numberForLookup(const std::string& shown);
    // A shown text of seven digits that an own number starting "+1" completes.
    static bool isSevenDigitLocal(const std::string& shown, const std::string& ownNumber);

private:
    std::string shown_;
};
