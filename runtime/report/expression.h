#pragma once
// Private to the report library: a column's arithmetic expression, compiled
// once into postfix steps over the fields it names.
#include <string>
#include <vector>

class ColumnExpression {
public:
    // Raises LayoutError naming the expression and what is wrong with it.
    static ColumnExpression Compile(const std::string &text);

    // Field names in the order `Evaluate` takes their values, each once.
    const std::vector<std::string> &Fields() const { return fields_; }
    // A division by zero gives 0.
    long double Evaluate(const long double *fieldValues) const;

private:
    enum class Op { Number, Field, Add, Subtract, Multiply, Divide, Negate };
    struct Step {
        Op op;
        long double number = 0;
        std::size_t field = 0;
    };
    std::vector<Step> steps_;
    std::vector<std::string> fields_;
    std::size_t depth_ = 0;  // the deepest the value stack goes
    friend class ExpressionParser;
};
