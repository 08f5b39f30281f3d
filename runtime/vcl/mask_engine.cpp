#include "vcl/mask_engine.h"

#include "rtl/utf8.h"

namespace {

// utf8.h has no lower-case mapping; Latin-1 capitals sit 32 below their
// small letters, like ASCII.
char32_t toLower(char32_t c)
{
    if (c >= U'A' && c <= U'Z')
        return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 32;
    return c;
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

} // namespace

MaskEngine::MaskEngine(const std::string &editMask) : editMask_(editMask)
{
    parse(editMask);
}

void MaskEngine::parse(const std::string &editMask)
{
    // A form sets the same few masks on many edits each time it opens.
    struct Parsed {
        std::string mask;
        std::vector<Position> positions;
        bool keepLiterals, rightAlign;
        char32_t blank;
    };
    static thread_local std::vector<Parsed> recent;
    for (const Parsed &p : recent)
        if (p.mask == editMask) {
            positions_ = p.positions;
            keepLiterals_ = p.keepLiterals;
            rightAlign_ = p.rightAlign;
            blank_ = p.blank;
            cells_.assign(positions_.size(), 0);
            return;
        }
    parseText(editMask);
    if (recent.size() >= 16)
        recent.erase(recent.begin());
    recent.push_back({editMask, positions_, keepLiterals_, rightAlign_, blank_});
}

void MaskEngine::parseText(const std::string &editMask)
{
    positions_.clear();
    keepLiterals_ = true;
    rightAlign_ = false;
    blank_ = U'_';

    const std::u32string s = utf8::decode(editMask);
    Case letterCase = Case::Keep;
    std::size_t i = 0;
    auto add = [&](Kind kind, bool required) {
        Position p;
        p.kind = kind;
        p.required = required;
        p.letterCase = letterCase;
        positions_.push_back(p);
    };
    auto addLiteral = [&](char32_t c) {
        Position p;
        p.literal = c;
        positions_.push_back(p);
    };
    for (; i < s.size() && s[i] != U';'; ++i) {
        switch (s[i]) {
        case U'\\':
            // A trailing backslash has nothing to escape: keep it as itself.
            addLiteral(i + 1 < s.size() ? s[++i] : U'\\');
            break;
        case U'!': rightAlign_ = true; break;
        case U'>': letterCase = Case::Upper; break;
        case U'<':
            if (i + 1 < s.size() && s[i + 1] == U'>') {
                letterCase = Case::Keep;
                ++i;
            } else {
                letterCase = Case::Lower;
            }
            break;
        case U'9': add(Kind::Digit, false); break;
        case U'0': add(Kind::Digit, true); break;
        case U'#': add(Kind::DigitOrSign, false); break;
        case U'a': add(Kind::LetterOrDigit, false); break;
        case U'A': add(Kind::LetterOrDigit, true); break;
        case U'l': add(Kind::Letter, false); break;
        case U'L': add(Kind::Letter, true); break;
        case U'c': add(Kind::Any, false); break;
        case U'C': add(Kind::Any, true); break;
        case U'_': addLiteral(U' '); break;
        default: addLiteral(s[i]); break;
        }
    }
    if (i < s.size()) {
        const std::u32string rest = s.substr(i + 1);
        const std::size_t sep = rest.find(U';');
        const std::u32string flag = rest.substr(0, sep);
        if (!flag.empty() && flag[0] == U'0')
            keepLiterals_ = false;
        if (sep != std::u32string::npos && sep + 1 < rest.size() && !isControl(rest[sep + 1]))
            blank_ = rest[sep + 1];
    }
    cells_.assign(positions_.size(), 0);
}

bool MaskEngine::setMask(const std::string &editMask)
{
    if (editMask == editMask_)
        return false;
    const std::string before = text();
    editMask_ = editMask;
    parse(editMask);
    plain_.clear();
    if (hasMask())
        fillFromCode(utf8::decode(before));
    else
        plain_ = utf8::decode(before);
    collapse(0);
    return text() != before;
}

bool MaskEngine::accepts(const Position &p, char32_t key, char32_t &stored) const
{
    if (isControl(key))
        return false;
    if (p.letterCase == Case::Upper)
        key = utf8::toUpper(key);
    else if (p.letterCase == Case::Lower)
        key = toLower(key);
    bool ok = false;
    switch (p.kind) {
    case Kind::Literal: ok = false; break;
    case Kind::Digit: ok = utf8::isDigit(key); break;
    case Kind::DigitOrSign: ok = utf8::isDigit(key) || key == U'+' || key == U'-'; break;
    case Kind::LetterOrDigit: ok = utf8::isLetter(key) || utf8::isDigit(key); break;
    case Kind::Letter: ok = utf8::isLetter(key); break;
    case Kind::Any: ok = true; break;
    }
    if (ok)
        stored = key;
    return ok;
}

int MaskEngine::nextEditable(int from) const
{
    while (from < positionCount() && !editable(from))
        ++from;
    return from;
}

void MaskEngine::blankAll() { cells_.assign(positions_.size(), 0); }

void MaskEngine::blankRange(int from, int to)
{
    for (int i = from; i < to && i < positionCount(); ++i)
        cells_[static_cast<std::size_t>(i)] = 0;
}

int MaskEngine::length() const { return hasMask() ? positionCount() : static_cast<int>(plain_.size()); }

std::string MaskEngine::text() const
{
    if (!hasMask())
        return utf8::encode(plain_);
    const int n = positionCount();
    int first = -1, last = -1, firstEdit = -1, lastEdit = -1;
    for (int i = 0; i < n; ++i) {
        if (positions_[i].kind == Kind::Literal)
            continue;
        if (firstEdit < 0)
            firstEdit = i;
        lastEdit = i;
        if (cells_[i] != 0) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first < 0)
        return {};
    // The mask's own leading and trailing literals belong to the text once
    // the span reaches them, so "(99)" filled reads "(12)", not "12)".
    const int from = first == firstEdit ? 0 : first;
    const int to = last == lastEdit ? n - 1 : last;
    std::u32string out;
    for (int i = from; i <= to; ++i) {
        if (positions_[i].kind == Kind::Literal) {
            if (keepLiterals_)
                out += positions_[i].literal;
        } else {
            out += cells_[i] != 0 ? cells_[i] : U' ';
        }
    }
    return utf8::encode(out);
}

std::string MaskEngine::displayText() const
{
    if (!hasMask())
        return utf8::encode(plain_);
    std::u32string out;
    for (int i = 0; i < positionCount(); ++i) {
        if (positions_[i].kind == Kind::Literal)
            out += positions_[i].literal;
        else
            out += cells_[i] != 0 ? cells_[i] : blank_;
    }
    return utf8::encode(out);
}

void MaskEngine::fillFromCode(const std::u32string &t)
{
    blankAll();
    const int n = positionCount();
    char32_t stored = 0;
    // Without kept literals (or with none in the mask) the characters go to
    // the editable positions in order; only then can '!' right-align, since
    // a Text read back never starts or ends with a blank.
    if (!keepLiterals_ || editableCount() == n) {
        std::vector<int> editable;
        for (int i = 0; i < n; ++i)
            if (positions_[i].kind != Kind::Literal)
                editable.push_back(i);
        std::size_t offset = 0;
        if (rightAlign_ && t.size() < editable.size())
            offset = editable.size() - t.size();
        for (std::size_t k = 0; k < t.size() && offset + k < editable.size(); ++k) {
            const int pos = editable[offset + k];
            if (accepts(positions_[pos], t[k], stored))
                cells_[pos] = stored;
        }
        return;
    }
    // Literals travel with the text: one is consumed only where it matches.
    std::size_t j = 0;
    for (int i = 0; i < n && j < t.size(); ++i) {
        if (positions_[i].kind == Kind::Literal) {
            if (t[j] == positions_[i].literal)
                ++j;
        } else {
            if (accepts(positions_[i], t[j], stored))
                cells_[i] = stored;
            ++j;
        }
    }
}

bool MaskEngine::setText(const std::string &text)
{
    const std::string before = this->text();
    if (hasMask()) {
        fillFromCode(utf8::decode(text));
    } else {
        plain_.clear();
        for (char32_t c : utf8::decode(text))
            if (!isControl(c))
                plain_ += c;
    }
    collapse(0);
    return this->text() != before;
}

void MaskEngine::setSelection(int anchor, int caret)
{
    const int n = length();
    anchor_ = anchor < 0 ? 0 : (anchor > n ? n : anchor);
    caret_ = caret < 0 ? 0 : (caret > n ? n : caret);
}

void MaskEngine::setCaret(int position, bool extend) { setSelection(extend ? anchor_ : position, position); }

void MaskEngine::eraseSelection()
{
    const int from = selStart(), to = from + selLength();
    if (hasMask())
        blankRange(from, to);
    else
        plain_.erase(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
    collapse(from);
}

bool MaskEngine::typeKey(char32_t key, bool *textChanged)
{
    if (textChanged)
        *textChanged = false;
    if (isControl(key))
        return false;
    const std::string before = text();
    if (!hasMask()) {
        if (charCase_ == Case::Upper)
            key = utf8::toUpper(key);
        else if (charCase_ == Case::Lower)
            key = toLower(key);
        const int grown = static_cast<int>(plain_.size()) - selLength() + 1;
        if (maxLength_ > 0 && grown > maxLength_)
            return false;
        eraseSelection();
        plain_.insert(plain_.begin() + caret_, key);
        collapse(caret_ + 1);
    } else if (hasSelection()) {
        // Replacing the selection is one change: blank it, then fill.
        const int pos = nextEditable(selStart());
        char32_t stored = 0;
        if (pos >= positionCount() || !accepts(positions_[static_cast<std::size_t>(pos)], key, stored))
            return false;
        eraseSelection();
        cells_[static_cast<std::size_t>(pos)] = stored;
        collapse(pos + 1);
    } else {
        int pos = caret_;
        for (; pos < positionCount() && !editable(pos); ++pos) {
            if (key == positions_[static_cast<std::size_t>(pos)].literal) {
                collapse(pos + 1);
                return true;
            }
        }
        char32_t stored = 0;
        if (pos >= positionCount() || !accepts(positions_[static_cast<std::size_t>(pos)], key, stored))
            return false;
        cells_[static_cast<std::size_t>(pos)] = stored;
        collapse(pos + 1);
    }
    if (textChanged)
        *textChanged = text() != before;
    return true;
}

bool MaskEngine::paste(const std::string &text)
{
    const std::string before = this->text();
    for (char32_t c : utf8::decode(text))
        if (!isControl(c))
            typeKey(c);
    return this->text() != before;
}

bool MaskEngine::deleteSelection()
{
    const std::string before = text();
    if (hasSelection())
        eraseSelection();
    else if (!hasMask() && caret_ < static_cast<int>(plain_.size()))
        plain_.erase(plain_.begin() + caret_);
    else if (hasMask() && caret_ < positionCount())
        cells_[static_cast<std::size_t>(caret_)] = 0;
    return text() != before;
}

bool MaskEngine::backspace()
{
    if (hasSelection())
        return deleteSelection();
    const std::string before = text();
    if (!hasMask()) {
        if (caret_ > 0) {
            plain_.erase(plain_.begin() + (caret_ - 1));
            collapse(caret_ - 1);
        }
    } else {
        int pos = caret_ - 1;
        while (pos >= 0 && !editable(pos))
            --pos;
        if (pos >= 0) {
            cells_[static_cast<std::size_t>(pos)] = 0;
            collapse(pos);
        }
    }
    return text() != before;
}

bool MaskEngine::clear()
{
    const std::string before = text();
    blankAll();
    plain_.clear();
    collapse(0);
    return text() != before;
}

int MaskEngine::editableCount() const
{
    int n = 0;
    for (const Position &p : positions_)
        if (p.kind != Kind::Literal)
            ++n;
    return n;
}

bool MaskEngine::isComplete() const
{
    for (int i = 0; i < positionCount(); ++i)
        if (positions_[i].required && cells_[i] == 0)
            return false;
    return true;
}
