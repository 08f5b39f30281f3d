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

std::optional<std::string_view> TField::current() const
{
    if (!dataSet_ || column_ < 0 || dataSet_->IsEmpty())
        return std::nullopt;
    return dataSet_->CellAt(dataSet_->RecNo() - 1, column_);
}

std::string TField::AsString() const
{
    const auto value = current();
    return value ? std::string(*value) : std::string();
}

bool TField::IsNull() const { return !current(); }

Variant TField::AsVariant() const
{
    const auto value = current();
    return value ? Variant(std::string(*value)) : Variant::Null();
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

void TDataSet::InternalOpenRows(RowReceiver &rows)
{
    const ResultSet result = InternalOpen();
    if (!rows.Columns(result.columns))
        return;
    for (const auto &row : result.rows)
        if (!rows.Row(row))
            return;
}

namespace {
int findColumn(const std::vector<std::string> &columns, const std::string &name)
{
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i] == name)
            return static_cast<int>(i);
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (SameName(columns[i], name))
            return static_cast<int>(i);
    return -1;
}

// Takes an Open's rows as they are read: the columns bind the persistent
// fields before any row is read, each row goes into the store.
class OpenReader : public RowReceiver {
public:
    OpenReader(const std::vector<TField *> &fields, TFieldBinding binding, std::string name, std::string prefix)
        : fields_(fields), fieldBinding_(binding), name_(std::move(name)), prefix_(std::move(prefix))
    {
    }

    bool Columns(const std::vector<std::string> &names) override
    {
        binding.clear();
        for (TField *f : fields_) {
            int column = findColumn(names, f->FieldName);
            const std::size_t position = binding.size();
            if (column < 0 && fieldBinding_ == TFieldBinding::ByNameOrPosition && position < names.size())
                column = static_cast<int>(position);
            if (column < 0)
                throw EDatabaseError(prefix_ + "Campo '" + f->FieldName +
                                     "' não encontrado no resultado do conjunto de dados" +
                                     (name_.empty() ? "." : " '" + name_ + "'."));
            binding.push_back(column);
        }
        columns = names;
        rows = RowStore(names.size());
        described = true;
        return true;
    }
    bool Row(const std::vector<std::optional<std::string>> &cells) override
    {
        if (cells.size() != columns.size())
            throw EDatabaseError(prefix_ + "Linha com número de colunas diferente do resultado.");
        rows.Append(cells);
        return true;
    }

    std::vector<std::string> columns;
    std::vector<int> binding;
    RowStore rows;
    bool described = false;

private:
    const std::vector<TField *> &fields_;
    TFieldBinding fieldBinding_;
    std::string name_, prefix_;
};
} // namespace

int TDataSet::FindColumn(const std::vector<std::string> &columns, const std::string &name)
{
    return findColumn(columns, name);
}

void TDataSet::Open()
{
    if (active_)
        return;
    DoBeforeOpen();
    // Everything is read and bound before any state changes, so a failure
    // leaves the data set closed.
    OpenReader reader(persistent_, FieldBinding, Name(), Prefix());
    InternalOpenRows(reader);
    if (!reader.described)
        reader.Columns({});
    for (std::size_t i = 0; i < persistent_.size(); ++i)
        persistent_[i]->column_ = reader.binding[i];
    if (persistent_.empty()) {
        for (std::size_t i = 0; i < reader.columns.size(); ++i) {
            auto field = std::make_unique<TStringField>(nullptr, reader.columns[i], DefaultFieldSize(i));
            field->dataSet_ = this;  // owned here, not in the persistent list
            field->column_ = static_cast<int>(i);
            defaultFields_.push_back(field.get());
            defaultOwned_.push_back(std::move(field));
        }
    }
    columns_ = std::move(reader.columns);
    rows_ = std::move(reader.rows);
    copied_ = false;
    active_ = true;
    recNo_ = 0;
    bof_ = true;
    eof_ = rows_.Empty();
    DoAfterOpen();
}

void TDataSet::Close()
{
    if (!active_)
        return;
    DoBeforeClose();
    active_ = false;
    columns_.clear();
    rows_.Clear();
    currentCopy_ = {};
    copied_ = false;
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
    eof_ = rows_.Empty();
    DoAfterScroll();
}

void TDataSet::Last()
{
    CheckActive();
    recNo_ = rows_.Empty() ? 0 : rows_.Rows() - 1;
    bof_ = rows_.Empty();
    eof_ = true;
    DoAfterScroll();
}

void TDataSet::Next()
{
    CheckActive();
    bof_ = false;
    if (recNo_ + 1 < rows_.Rows()) {
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
    eof_ = rows_.Empty();
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
    const std::string text = value.isNull() ? std::string() : value.asString();
    for (std::size_t i = 0; i < rows_.Rows(); ++i) {
        const auto cell = rows_.Cell(i, column);
        if (value.isNull() ? !cell : cell && *cell == text) {
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
    if (IsEmpty())
        return nullptr;
    if (!copied_ || copiedRow_ != recNo_) {
        currentCopy_.assign(columns_.size(), std::nullopt);
        for (std::size_t c = 0; c < columns_.size(); ++c)
            if (auto cell = rows_.Cell(recNo_, c))
                currentCopy_[c].emplace(*cell);
        copiedRow_ = recNo_;
        copied_ = true;
    }
    return &currentCopy_;
}

std::optional<std::string_view> TDataSet::CellAt(int row, int column) const
{
    if (!active_ || row < 0 || column < 0)
        return std::nullopt;
    return rows_.Cell(static_cast<std::size_t>(row), static_cast<std::size_t>(column));
}

void TDataSet::KeepCurrentRowOnly()
{
    if (IsEmpty() || rows_.Rows() == 1)
        return;
    rows_.KeepOnly(recNo_);
    recNo_ = 0;
    copied_ = false;
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
