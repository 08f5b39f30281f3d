#include "report/expression.h"

#include "report/layout.h"

#include <algorithm>
#include <cctype>
#include <charconv>

// Recursive descent over  sum := product (('+'|'-') product)*,
// product := unary (('*'|'/') unary)*,  unary := '-' unary | atom,
// atom := number | field | '(' sum ')'.
class ExpressionParser {
public:
    explicit ExpressionParser(const std::string &text) : text_(text) {}

    ColumnExpression Parse()
    {
        skipBlanks();
        if (at_ == text_.size())
            fail("a expressão está vazia");
        sum();
        skipBlanks();
        if (at_ != text_.size())
            fail(std::string("'") + text_[at_] + "' inesperado na posição " + std::to_string(at_ + 1));
        return std::move(out_);
    }

private:
    [[noreturn]] void fail(const std::string &why) const
    {
        throw LayoutError("Expressão inválida '" + text_ + "': " + why + ".");
    }

    void skipBlanks()
    {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
    }

    bool take(char c)
    {
        skipBlanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    void emit(ColumnExpression::Op op, long double number = 0, std::size_t field = 0)
    {
        out_.steps_.push_back({op, number, field});
        if (op == ColumnExpression::Op::Number || op == ColumnExpression::Op::Field)
            out_.depth_ = std::max(out_.depth_, ++depth_);
        else if (op != ColumnExpression::Op::Negate)
            --depth_;
    }

    void sum()
    {
        product();
        for (;;) {
            if (take('+')) {
                product();
                emit(ColumnExpression::Op::Add);
            } else if (take('-')) {
                product();
                emit(ColumnExpression::Op::Subtract);
            } else {
                return;
            }
        }
    }

    void product()
    {
        unary();
        for (;;) {
            if (take('*')) {
                unary();
                emit(ColumnExpression::Op::Multiply);
            } else if (take('/')) {
                unary();
                emit(ColumnExpression::Op::Divide);
            } else {
                return;
            }
        }
    }

    void unary()
    {
        // Every parenthesis and sign passes here: the one place the descent
        // can be made to go deep.
        if (++nesting_ > kMaxNesting)
            fail("mais de " + std::to_string(kMaxNesting) + " parênteses ou sinais aninhados");
        struct Leave {
            std::size_t &n;
            ~Leave() { --n; }
        } leave{nesting_};
        if (take('-')) {
            unary();
            emit(ColumnExpression::Op::Negate);
        } else {
            atom();
        }
    }

    void atom()
    {
        skipBlanks();
        if (at_ == text_.size())
            fail("falta um valor no fim");
        const char c = text_[at_];
        if (c == '(') {
            ++at_;
            sum();
            if (!take(')'))
                fail("falta ')'");
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            const std::size_t start = at_;
            while (at_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '.'))
                ++at_;
            const std::string number = text_.substr(start, at_ - start);
            if (std::count(number.begin(), number.end(), '.') > 1 || number == ".")
                fail("número inválido '" + number + "'");
            double value = 0;  // from_chars: the C library's parse follows the locale a desktop sets
            std::from_chars(number.data(), number.data() + number.size(), value);
            emit(ColumnExpression::Op::Number, value);
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            const std::size_t start = at_;
            while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_'))
                ++at_;
            const std::string name = text_.substr(start, at_ - start);
            auto &fields = out_.fields_;
            auto it = std::find(fields.begin(), fields.end(), name);
            if (it == fields.end())
                it = fields.insert(fields.end(), name);
            emit(ColumnExpression::Op::Field, 0, static_cast<std::size_t>(it - fields.begin()));
        } else {
            fail(std::string("'") + c + "' inesperado na posição " + std::to_string(at_ + 1));
        }
    }

    static constexpr std::size_t kMaxNesting = 200;

    const std::string &text_;
    std::size_t at_ = 0;
    std::size_t depth_ = 0;
    std::size_t nesting_ = 0;
    ColumnExpression out_;
};

ColumnExpression ColumnExpression::Compile(const std::string &text) { return ExpressionParser(text).Parse(); }

long double ColumnExpression::Evaluate(const long double *fieldValues) const
{
    // Expressions are a handful of steps; a small fixed stack covers them,
    // a deeper one gets its own.
    long double small[16];
    std::vector<long double> large;
    long double *stack = small;
    if (depth_ > 16) {
        large.resize(depth_);
        stack = large.data();
    }
    std::size_t top = 0;
    for (const Step &s : steps_) {
        switch (s.op) {
        case Op::Number: stack[top++] = s.number; break;
        case Op::Field: stack[top++] = fieldValues[s.field]; break;
        case Op::Negate: stack[top - 1] = -stack[top - 1]; break;
        case Op::Add: --top; stack[top - 1] += stack[top]; break;
        case Op::Subtract: --top; stack[top - 1] -= stack[top]; break;
        case Op::Multiply: --top; stack[top - 1] *= stack[top]; break;
        case Op::Divide:
            --top;
            stack[top - 1] = stack[top] == 0 ? 0 : stack[top - 1] / stack[top];
            break;
        }
    }
    return top ? stack[0] : 0;
}
