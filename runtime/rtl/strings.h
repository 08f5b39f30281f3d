#pragma once
// Lines of text such as a statement. A component built from a description
// refers to the description's lines, which outlive it, instead of copying
// them; setting lines from code gives the component its own.
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class TStrings {
public:
    TStrings() = default;
    TStrings(std::vector<std::string> lines)
        : lines_(std::make_shared<const std::vector<std::string>>(std::move(lines)))
    {
    }
    TStrings(std::initializer_list<std::string> lines) : TStrings(std::vector<std::string>(lines)) {}
    // Refers to `lines` without copying them; they must outlive every copy.
    static TStrings Borrowing(const std::vector<std::string> &lines)
    {
        TStrings s;
        s.lines_ = std::shared_ptr<const std::vector<std::string>>(std::shared_ptr<void>(), &lines);
        return s;
    }

    const std::vector<std::string> &Lines() const { return lines_ ? *lines_ : none(); }
    bool empty() const { return Lines().empty(); }
    std::size_t size() const { return Lines().size(); }
    const std::string &operator[](std::size_t i) const { return Lines()[i]; }
    auto begin() const { return Lines().begin(); }
    auto end() const { return Lines().end(); }
    // The lines joined by '\n'.
    std::string Text() const
    {
        std::size_t length = 0;
        for (const std::string &l : Lines())
            length += l.size() + 1;
        std::string out;
        out.reserve(length);
        for (std::size_t i = 0; i < size(); ++i) {
            if (i)
                out += '\n';
            out += Lines()[i];
        }
        return out;
    }

    friend bool operator==(const TStrings &a, const TStrings &b) { return a.Lines() == b.Lines(); }
    friend bool operator==(const TStrings &a, const std::vector<std::string> &b) { return a.Lines() == b; }
    friend std::ostream &operator<<(std::ostream &out, const TStrings &s)
    {
        for (const std::string &l : s.Lines())
            out << l << '\n';
        return out;
    }

private:
    static const std::vector<std::string> &none()
    {
        static const std::vector<std::string> empty;
        return empty;
    }
    std::shared_ptr<const std::vector<std::string>> lines_;
};
