#pragma once
// A value as the data-access framework passes it around: NULL, text,
// date-time or number.
#include "rtl/datetime.h"

#include <string>
#include <variant>

class Variant {
public:
    enum class Kind { Null, Text, DateTime, Number };

    Variant() = default;
    Variant(std::string text) : value_(std::move(text)) {}
    Variant(const char *text) : value_(std::string(text)) {}
    Variant(TDateTime date) : value_(date) {}
    Variant(double number) : value_(number) {}
    static Variant Null() { return Variant(); }

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isNull() const { return kind() == Kind::Null; }
    // Text of the value: "" for NULL, "YYYY-MM-DD" (with " HH:MM:SS" when a
    // time is present) for a date, shortest round-trip form for a number.
    std::string asString() const;
    TDateTime asDateTime() const;  // throws EConvertError unless a date or number
    double asNumber() const;       // throws EConvertError on a non-numeric text

    bool operator==(const Variant &o) const { return value_ == o.value_; }

private:
    std::variant<std::monostate, std::string, TDateTime, double> value_;
};
