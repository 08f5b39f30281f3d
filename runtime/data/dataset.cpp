#include "data/dataset.h"

#include "data/dberrors.h"
#include "data/sqlparams.h"
#include "rtl/streaming.h"

#include <algorithm>

// Property names compare by length first.
using namespace std::string_view_literals;

// --- TField ---------------------------------------------------------------

TField::TField(TDataSet *dataSet, std::string fieldName, int size, TComponent *owner)
    : TComponent(owner), FieldName(std::move(fieldName)), Size(size)
{
    SetDataSet(dataSet);
}

TField::~TField()
{
    if (dataSet_)
        dataSet_->detach(this);
}

void TField::SetDataSet(TDataSet *dataSet)
{
    if (dataSet == dataSet_)
        return;
    if (dataSet)
        dataSet->attach(this);  // checks first, so a refusal leaves things as they were
    if (dataSet_)
        dataSet_->detach(this);
    dataSet_ = dataSet;
}

const std::optional<std::string> *TField::current() const
{
    if (!dataSet_ || column_ < 0)
        return nullptr;
    const auto *row = dataSet_->CurrentRow();
    if (!row || static_cast<std::size_t>(column_) >= row->size())
        return nullptr;
    return &(*row)[static_cast<std::size_t>(column_)];
}

std::string TField::AsString() const
{
    const auto *value = current();
    return value && *value ? **value : std::string();
}

bool TField::IsNull() const
{
    const auto *value = current();
    return !value || !*value;
}

Variant TField::AsVariant() const
{
    const auto *value = current();
    return value && *value ? Variant(**value) : Variant::Null();
}

// --- TDataSet -------------------------------------------------------------

TDataSet::~TDataSet()
{
    // Persistent fields may outlive the data set; they must not point at it.
    for (TField *f : persistent_) {
        f->dataSet_ = nullptr;
        f->column_ = -1;
    }
    for (auto &f : defaultOwned_)
        f->dataSet_ = nullptr;
}

void TDataSet::attach(TField *field)
{
    CheckInactive();
    if (field->dataSet_)
        field->dataSet_->CheckInactive();
    for (TField *f : persistent_)
        if (SameName(f->FieldName, field->FieldName))
            throw EDatabaseError(Prefix() + "Campo '" + field->FieldName + "' duplicado.");
    persistent_.push_back(field);
}

void TDataSet::detach(TField *field)
{
    // Also runs from a field's destructor, so it never throws.
    persistent_.erase(std::remove(persistent_.begin(), persistent_.end(), field), persistent_.end());
    field->column_ = -1;
}

int TDataSet::FindColumn(const std::vector<std::string> &columns, const std::string &name)
{
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i] == name)
            return static_cast<int>(i);
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (SameName(columns[i], name))
            return static_cast<int>(i);
    return -1;
}

void TDataSet::Open()
{
    if (active_)
        return;
    DoBeforeOpen();
    ResultSet result = InternalOpen();
    for (const auto &row : result.rows)
        if (row.size() != result.columns.size())
            throw EDatabaseError(Prefix() + "Linha com número de colunas diferente do resultado.");

    // Bind everything before changing any state, so a failure leaves the data set closed.
    std::vector<int> binding;
    for (TField *f : persistent_) {
        int column = FindColumn(result.columns, f->FieldName);
        const std::size_t position = binding.size();
        if (column < 0 && FieldBinding == TFieldBinding::ByNameOrPosition && position < result.columns.size())
            column = static_cast<int>(position);
        if (column < 0)
            throw EDatabaseError(Prefix() + "Campo '" + f->FieldName +
                                 "' não encontrado no resultado do conjunto de dados" +
                                 (Name().empty() ? "." : " '" + Name() + "'."));
        binding.push_back(column);
    }
    for (std::size_t i = 0; i < persistent_.size(); ++i)
        persistent_[i]->column_ = binding[i];
    if (persistent_.empty()) {
        for (std::size_t i = 0; i < result.columns.size(); ++i) {
            auto field = std::make_unique<TStringField>(nullptr, result.columns[i],
                                                        DefaultFieldSize(i));
            field->dataSet_ = this;  // owned here, not in the persistent list
            field->column_ = static_cast<int>(i);
            defaultFields_.push_back(field.get());
            defaultOwned_.push_back(std::move(field));
        }
    }
    columns_ = std::move(result.columns);
    rows_ = std::move(result.rows);
    active_ = true;
    recNo_ = 0;
    bof_ = true;
    eof_ = rows_.empty();
    DoAfterOpen();
}

void TDataSet::Close()
{
    if (!active_)
        return;
    DoBeforeClose();
    active_ = false;
    columns_.clear();
    rows_.clear();
    for (TField *f : persistent_)
        f->column_ = -1;
    defaultFields_.clear();
    for (auto &f : defaultOwned_)
        f->dataSet_ = nullptr;  // keeps its destructor from detaching
    defaultOwned_.clear();
    recNo_ = 0;
    bof_ = eof_ = true;
    DoAfterClose();
}

void TDataSet::CheckActive() const
{
    if (!active_)
        throw EDatabaseError(Prefix() + "Operação não permitida em um conjunto de dados fechado.");
}

void TDataSet::CheckInactive() const
{
    if (active_)
        throw EDatabaseError(Prefix() + "Operação não permitida em um conjunto de dados aberto.");
}

void TDataSet::First()
{
    CheckActive();
    recNo_ = 0;
    bof_ = true;
    eof_ = rows_.empty();
    DoAfterScroll();
}

void TDataSet::Last()
{
    CheckActive();
    recNo_ = rows_.empty() ? 0 : rows_.size() - 1;
    bof_ = rows_.empty();
    eof_ = true;
    DoAfterScroll();
}

void TDataSet::Next()
{
    CheckActive();
    bof_ = false;
    if (recNo_ + 1 < rows_.size()) {
        ++recNo_;
        eof_ = false;
    } else {
        eof_ = true;
    }
    DoAfterScroll();
}

void TDataSet::Prior()
{
    CheckActive();
    eof_ = rows_.empty();
    if (recNo_ > 0) {
        --recNo_;
        bof_ = false;
    } else {
        bof_ = true;
    }
    DoAfterScroll();
}

bool TDataSet::Locate(const std::string &fieldName, const Variant &value)
{
    CheckActive();
    const TField *field = FieldByName(fieldName);
    const std::size_t column = static_cast<std::size_t>(field->column_);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const auto &cell = rows_[i][column];
        if (value.isNull() ? !cell : cell && *cell == value.asString()) {
            recNo_ = i;
            bof_ = eof_ = false;
            DoAfterScroll();
            return true;
        }
    }
    return false;
}

const std::vector<TField *> &TDataSet::Fields() const
{
    return persistent_.empty() ? defaultFields_ : persistent_;
}

TField *TDataSet::FindField(const std::string &fieldName) const
{
    for (TField *f : Fields())
        if (SameName(f->FieldName, fieldName))
            return f;
    return nullptr;
}

TField *TDataSet::FieldByName(const std::string &fieldName) const
{
    if (TField *f = FindField(fieldName))
        return f;
    throw EDatabaseError(Prefix() + "Campo '" + fieldName + "' não encontrado.");
}

const std::vector<std::optional<std::string>> *TDataSet::CurrentRow() const
{
    return IsEmpty() ? nullptr : &rows_[recNo_];
}

const std::vector<std::optional<std::string>> *TDataSet::RowAt(int index) const
{
    if (!active_ || index < 0 || static_cast<std::size_t>(index) >= rows_.size())
        return nullptr;
    return &rows_[static_cast<std::size_t>(index)];
}

bool TField::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    const std::string &n = p.name;
    if (n == "FieldName"sv) FieldName = PropString(p);
    else if (n == "Size"sv) Size = PropInt(p);
    else if (n == "DisplayLabel"sv) DisplayLabel = PropString(p);
    else if (n == "Visible"sv) Visible = PropBool(p);
    else if (n == "Required"sv) Required = PropBool(p);
    else if (n == "EditMask"sv) EditMask = PropString(p);
    else if (n == "DisplayWidth"sv) DisplayWidth = PropInt(p);
    else if (n == "FixedChar"sv) FixedChar = PropBool(p);
    else if (n == "DataSet"sv) {
        ctx.Defer(*this, p, [](TComponent &self, const PropertyDesc &prop, LoadContext &c) {
            const std::string &name = PropString(prop);
            TDataSet *ds = DataSetOf(c.Find(prop));
            if (!ds)
                throw EDatabaseError("Campo '" + self.Name() + "': '" + name + "' não é um conjunto de dados.");
            static_cast<TField &>(self).SetDataSet(ds);
        });
    } else return TComponent::SetProperty(p, ctx);
    return true;
}

TDataSet *DataSetOf(TComponent *component)
{
    if (auto *ds = CachedCast<TDataSet>(component))
        return ds;
    if (auto *provider = CachedCast<TDataSetProvider>(component))
        return provider->ProvidedDataSet();
    return nullptr;
}

bool TDataSource::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "DataSet"sv) {
        ctx.Defer(*this, p, [](TComponent &self, const PropertyDesc &prop, LoadContext &c) {
            auto &source = static_cast<TDataSource &>(self);
            source.DataSet = DataSetOf(c.Find(prop));
            if (!source.DataSet)
                throw EDatabaseError("Fonte de dados '" + self.Name() + "': '" + PropString(prop) +
                                     "' não é um conjunto de dados.");
        });
        return true;
    }
    if (p.name == "Enabled"sv) {
        Enabled = PropBool(p);
        return true;
    }
    return TComponent::SetProperty(p, ctx);
}

void TDataSource::Notification(TComponent *component)
{
    if (component == DataSet)
        DataSet = nullptr;
}
