#pragma once
// Edit-mask engine behind masked edit controls. It owns the characters of a
// masked text, the caret and the select-all state, and applies the mask
// notation "MASK;FLAG;BLANK" (e.g. "99/99/9999;1;_"). No GUI code here: the
// control forwards keys and reads text()/displayText() back.
//
// Without a mask (empty mask string, or a mask with no positions) the engine
// holds plain text: keys are inserted at the caret.
#include <string>
#include <vector>

class MaskEngine {
public:
    MaskEngine() = default;
    explicit MaskEngine(const std::string &editMask);

    // Returns true when text() changed. Setting the mask already in use does
    // nothing; a different mask re-applies the current text() from code.
    bool setMask(const std::string &editMask);
    const std::string &mask() const { return editMask_; }
    bool hasMask() const { return !positions_.empty(); }

    // What the program reads: first to last filled position, literals only
    // when the mask keeps them, unfilled positions inside read as ' '.
    std::string text() const;
    // What a person sees: every position, empty ones shown with the blank.
    std::string displayText() const;

    // Fills the positions from code; caret back to 0, selection cleared.
    // Returns true when text() changed.
    bool setText(const std::string &text);

    void selectAll();
    bool hasSelection() const { return selected_; }

    // Types one key at the caret (over the whole text when selected). Returns
    // true when the key was accepted; *textChanged tells whether text() moved.
    bool typeKey(char32_t key, bool *textChanged = nullptr);

    // The Delete key: blanks every position when selected, otherwise the
    // position under the caret. Returns true when text() changed.
    bool deleteSelection();
    // Empties every position. Returns true when text() changed.
    bool clear();

    int caret() const { return caret_; }
    void setCaret(int position);
    int positionCount() const { return static_cast<int>(positions_.size()); }
    int editableCount() const;
    // Every required position ('0', 'A', 'L', 'C') is filled.
    bool isComplete() const;

private:
    enum class Kind { Literal, Digit, DigitOrSign, LetterOrDigit, Letter, Any };
    enum class Case { Keep, Upper, Lower };
    struct Position {
        Kind kind = Kind::Literal;
        bool required = false;
        Case letterCase = Case::Keep;
        char32_t literal = 0;
    };

    void parse(const std::string &editMask);
    void parseText(const std::string &editMask);
    bool accepts(const Position &p, char32_t key, char32_t &stored) const;
    int firstEditable() const;
    void blankAll();
    void fillFromCode(const std::u32string &text);

    std::string editMask_;
    std::vector<Position> positions_;
    std::u32string cells_;      // per position; 0 = empty (literals too)
    std::u32string plain_;      // the text when there is no mask
    bool keepLiterals_ = true;
    bool rightAlign_ = false;
    char32_t blank_ = U'_';
    int caret_ = 0;
    bool selected_ = false;
};
