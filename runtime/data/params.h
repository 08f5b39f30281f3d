#pragma once
// Statement parameters: the values a query binds to its ":NAME" markers.
#include "data/variant.h"

#include <memory>
#include <string>
#include <vector>

enum TFieldType { ftUnknown, ftString, ftInteger, ftFloat, ftDate, ftDateTime };
enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// A parameter keeps the value it was given: an empty text stays an empty
// text here; it becomes NULL only when a session binds it.
class TParam {
public:
    explicit TParam(std::string name = {}, TFieldType dataType = ftString,
                    TParamType paramType = ptUnknown)
        : Name(std::move(name)), DataType(dataType), ParamType(paramType) {}

    std::string Name;
    TFieldType DataType = ftString;
    TParamType ParamType = ptUnknown;

    std::string AsString() const { return value_.asString(); }  // "" when NULL
    void SetAsString(const std::string &value);
    const Variant &AsVariant() const { return value_; }
    void SetAsVariant(const Variant &value);
    void Clear() { value_ = Variant::Null(); }
    bool IsNull() const { return value_.isNull(); }

private:
    Variant value_;
};

// Owns its parameters; pointers stay valid until the parameter is removed.
// Names compare case-insensitively.
class TParams {
public:
    TParams() = default;
    TParams(const TParams &other) { *this = other; }
    TParams &operator=(const TParams &other);
    TParams(TParams &&) noexcept = default;
    TParams &operator=(TParams &&) noexcept = default;

    int Count() const { return static_cast<int>(items_.size()); }
    TParam *Items(int index) const;
    TParam *FindParam(const std::string &name) const;
    // Raises EDatabaseError "Parâmetro 'NAME' não encontrado." when missing.
    TParam *ParamByName(const std::string &name) const;
    TParam *CreateParam(TFieldType dataType, const std::string &name, TParamType paramType);
    TParam *AddParam(const TParam &param);
    void Clear() { items_.clear(); }
    // Replaces the list with one text parameter of undeclared direction per
    // distinct marker of `sql`.
    void ParseSQL(const std::string &sql);

private:
    std::vector<std::unique_ptr<TParam>> items_;
};
