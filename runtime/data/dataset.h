#pragma once
// Client-side data sets: every row is fetched when the data set opens, and a
// cursor walks them. Fields expose the current row's values. The rows are
// kept compactly (their text side by side, see RowStore), read as they
// arrive from the database.
//
// Field ownership: persistent fields are owned by whoever declares them (a
// form keeps them as members) and attach to a data set by pointer; the data
// set never deletes them. Attaching and destruction are tracked from both
// sides, so either may be destroyed first. When a data set has no persistent
// fields, Open creates default string fields that the data set owns and
// destroys on Close.
#include "data/params.h"
#include "data/rowstore.h"
#include "data/session.h"
#include "rtl/classes.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TDataSet;

class TField : public TComponent {
public:
    TField(TDataSet *dataSet = nullptr, std::string fieldName = {}, int size = 20, TComponent *owner = nullptr);
    ~TField() override;
    const char *ClassName() const override { return "TField"; }

    std::string FieldName;
    int Size = 20;
    std::string DisplayLabel;  // empty: the field name is shown
    bool Visible = true;
    bool Required = false;
    std::string EditMask;
    int DisplayWidth = 0;
    bool FixedChar = false;

    virtual TFieldType DataType() const { return ftUnknown; }
    std::string DisplayName() const { return DisplayLabel.empty() ? FieldName : DisplayLabel; }

    TDataSet *DataSet() const { return dataSet_; }
    // Attaches the field as a persistent field of `dataSet` (nullptr detaches).
    // Raises EDatabaseError while either data set is open.
    void SetDataSet(TDataSet *dataSet);

    // Value of the current row; "" when the data set is closed or empty, or the value is NULL.
    std::string AsString() const;
    bool IsNull() const;
    Variant AsVariant() const;  // NULL or text

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

    // The field's column in the rows of its open data set (-1 when closed).
    int Column() const { return column_; }

private:
    friend class TDataSet;
    std::optional<std::string_view> current() const;

    TDataSet *dataSet_ = nullptr;
    int column_ = -1;  // result column, set on Open
};

class TStringField : public TField {
public:
    using TField::TField;
    const char *ClassName() const override { return "TStringField"; }
    TFieldType DataType() const override { return ftString; }
};

// How persistent fields find their columns when a data set opens.
enum class TFieldBinding {
    ByName,            // a field without a column of its name is an error
    ByNameOrPosition,  // such a field takes the column at its own position
};

class TDataSet : public TComponent {
public:
    explicit TDataSet(TComponent *owner = nullptr) : TComponent(owner) {}
    ~TDataSet() override;
    const char *ClassName() const override { return "TDataSet"; }

    TFieldBinding FieldBinding = TFieldBinding::ByName;

    // Fetches every row and moves to the first. Raises EDatabaseError (and
    // stays closed) when a persistent field has no column of its name; then
    // no row is read.
    void Open();
    void Close();
    bool Active() const { return active_; }
    void SetActive(bool value) { value ? Open() : Close(); }

    bool IsEmpty() const { return !active_ || rows_.Empty(); }
    bool Eof() const { return !active_ || eof_; }
    bool Bof() const { return !active_ || bof_; }
    void First();
    void Next();
    void Prior();
    void Last();
    int RecordCount() const { return active_ ? static_cast<int>(rows_.Rows()) : 0; }
    int RecNo() const { return IsEmpty() ? 0 : static_cast<int>(recNo_) + 1; }
    // Moves to the first row whose field equals `value` (NULL matches NULL
    // only); the cursor stays put when nothing matches.
    bool Locate(const std::string &fieldName, const Variant &value);

    TField *FindField(const std::string &fieldName) const;
    TField *FieldByName(const std::string &fieldName) const;  // raises EDatabaseError
    // Persistent fields, or the default fields of an open data set.
    const std::vector<TField *> &Fields() const;
    int FieldCount() const { return static_cast<int>(Fields().size()); }

    // Raw access for code that reads columns without fields.
    const std::vector<std::string> &ColumnNames() const { return columns_; }
    // A copy of the current row, nullptr when closed or empty; valid until
    // the cursor moves or the data set closes.
    const std::vector<std::optional<std::string>> *CurrentRow() const;
    // A cell of row `row` (0-based) where the data set keeps it, for readers
    // of many rows that must not copy them; nullopt for NULL, for a closed
    // data set and outside the rows and columns. Valid until the data set
    // closes or drops the row.
    std::optional<std::string_view> CellAt(int row, int column) const;
    // Drops every row but the current one, which stays current as the only
    // row. For an owner done with a large result that still reads where the
    // cursor stood; the memory of the other rows goes back at once.
    void KeepCurrentRowOnly();

protected:
    // Produces the rows of an Open; the data set is still closed while it runs.
    virtual ResultSet InternalOpen() = 0;
    // Hands the rows of an Open to `rows` as they are read; by default those
    // of InternalOpen. A data set that reads a database overrides it, so a
    // large result is never held twice.
    virtual void InternalOpenRows(RowReceiver &rows);
    virtual int DefaultFieldSize(std::size_t /*column*/) const { return 20; }
    virtual void DoBeforeOpen() {}
    virtual void DoAfterOpen() {}
    virtual void DoBeforeClose() {}
    virtual void DoAfterClose() {}
    virtual void DoAfterScroll() {}

    const std::vector<TField *> &PersistentFields() const { return persistent_; }
    void CheckActive() const;
    void CheckInactive() const;
    std::string Prefix() const { return Name().empty() ? std::string() : Name() + ": "; }
    // Index of the column named `name`: exact spelling first, then case-insensitive.
    static int FindColumn(const std::vector<std::string> &columns, const std::string &name);

private:
    friend class TField;
    void attach(TField *field);
    void detach(TField *field);

    std::vector<TField *> persistent_;
    std::vector<std::unique_ptr<TField>> defaultOwned_;
    std::vector<TField *> defaultFields_;
    std::vector<std::string> columns_;
    RowStore rows_;
    mutable std::vector<std::optional<std::string>> currentCopy_;
    mutable std::size_t copiedRow_ = 0;
    mutable bool copied_ = false;
    bool active_ = false;
    std::size_t recNo_ = 0;
    bool bof_ = true;
    bool eof_ = true;
};

// A component that is not a data set but holds one (a query component whose
// rows are its inner data set). Descriptions may name it where a data set is due.
class TDataSetProvider {
public:
    virtual ~TDataSetProvider() = default;
    virtual TDataSet *ProvidedDataSet() = 0;
};
// The data set a component is or provides; nullptr for anything else.
TDataSet *DataSetOf(TComponent *component);

// Links a data set to whatever displays it. Does not own the data set.
class TDataSource : public TComponent {
public:
    explicit TDataSource(TComponent *owner = nullptr, TDataSet *dataSet = nullptr)
        : TComponent(owner), DataSet(dataSet) {}
    const char *ClassName() const override { return "TDataSource"; }
    TDataSet *DataSet = nullptr;
    bool Enabled = true;

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;
    void Notification(TComponent *component) override;
};

void RegisterDataComponents();
