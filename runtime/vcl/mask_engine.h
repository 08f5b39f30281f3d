#pragma once
// The text behind an edit control: its characters, the caret and the
// selection, with or without an edit mask in the notation "MASK;FLAG;BLANK"
// (e.g. "99/99/9999;1;_"). No GUI code here: the control forwards keys and
// reads text()/displayText(), the caret and the selection back.
//
// Without a mask (empty mask string, or a mask with no positions) the engine
// holds plain text: keys are inserted at the caret, up to maxLength.
// Positions count characters of displayText(), so a front end can show the
// caret and selection where the model has them.
#include <string>
#include <vector>

class MaskEngine {
public:
    enum class Case { Keep, Upper, Lower };

    MaskEngine() = default;
    explicit MaskEngine(const std::string &editMask);

    // Returns true when text() changed. Setting the mask already in use does
    // nothing; a different mask re-applies the current text() from code.
    bool setMask(const std::string &editMask);
    const std::string &mask() const { return editMask_; }
    bool hasMask() const { return !positions_.empty(); }

    // Plain text only: the most characters a key may grow it to (0: no limit)
    // and the case typed letters take.
    void setMaxLength(int n) { maxLength_ = n; }
    void setCharCase(Case c) { charCase_ = c; }

    // What the program reads: first to last filled position, literals only
    // when the mask keeps them, unfilled positions inside read as ' '.
    std::string text() const;
    // What a person sees: every position, empty ones shown with the blank.
    std::string displayText() const;
    int length() const;  // characters of displayText()

    // Fills the positions from code (control characters never get in); caret
    // back to 0, selection cleared. Returns true when text() changed.
    bool setText(const std::string &text);

    // The selection runs between the anchor and the caret; the caret is the
    // end that moves. Positions are clamped to 0..length().
    int caret() const { return caret_; }
    int anchor() const { return anchor_; }
    int selStart() const { return caret_ < anchor_ ? caret_ : anchor_; }
    int selLength() const { return caret_ < anchor_ ? anchor_ - caret_ : caret_ - anchor_; }
    bool hasSelection() const { return caret_ != anchor_; }
    void setSelection(int anchor, int caret);
    void selectAll() { setSelection(0, length()); }
    // Moves the caret; with `extend` the anchor stays, so the selection grows.
    void setCaret(int position, bool extend = false);

    // Types one key at the caret (over the selection when there is one).
    // Returns true when the key was accepted; *textChanged tells whether
    // text() moved. A refused key changes nothing, selection included.
    bool typeKey(char32_t key, bool *textChanged = nullptr);
    // Types each character of `text` in turn, skipping control characters.
    // Returns true when text() changed.
    bool paste(const std::string &text);

    // The Delete key: blanks (or removes) the selection, otherwise the
    // position under the caret. Returns true when text() changed.
    bool deleteSelection();
    // The Backspace key: the selection, otherwise the position before the
    // caret (literals are stepped over). Returns true when text() changed.
    bool backspace();
    // Empties every position. Returns true when text() changed.
    bool clear();

    int positionCount() const { return static_cast<int>(positions_.size()); }
    int editableCount() const;
    // Every required position ('0', 'A', 'L', 'C') is filled.
    bool isComplete() const;

private:
    enum class Kind { Literal, Digit, DigitOrSign, LetterOrDigit, Letter, Any };
    struct Position {
        Kind kind = Kind::Literal;
        bool required = false;
        Case letterCase = Case::Keep;
        char32_t literal = 0;
    };

    void parse(const std::string &editMask);
    void parseText(const std::string &editMask);
    bool accepts(const Position &p, char32_t key, char32_t &stored) const;
    bool editable(int i) const { return positions_[static_cast<std::size_t>(i)].kind != Kind::Literal; }
    int nextEditable(int from) const;
    void blankAll();
    void blankRange(int from, int to);
    void eraseSelection();
    void fillFromCode(const std::u32string &text);
    void collapse(int position) { caret_ = anchor_ = position; }

    std::string editMask_;
    std::vector<Position> positions_;
    std::u32string cells_;      // per position; 0 = empty (literals too)
    std::u32string plain_;      // the text when there is no mask
    bool keepLiterals_ = true;
    bool rightAlign_ = false;
    char32_t blank_ = U'_';
    int maxLength_ = 0;
    Case charCase_ = Case::Keep;
    int caret_ = 0;
    int anchor_ = 0;
};
