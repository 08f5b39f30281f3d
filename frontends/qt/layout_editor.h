#pragma once
// The layout editor: a report's columns, groups and page, edited on a copy
// of its layout, with the first page shown on request. OK gives the layout
// back only when it can be used with the statement's result columns.
#include "report/reportui.h"

#include <QDialog>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPdfDocument;
class QPdfView;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTableWidgetItem;

class LayoutEditor : public QDialog {
public:
    // Columns of the column table and of the group table.
    enum ColumnCell { ColShow, ColCaption, ColField, ColWidth, ColFormat, ColTotal, ColAlign, ColOverflow, ColumnCells };
    enum GroupCell { GroupField, GroupHeader, GroupFooter, GroupCaption, GroupCells };

    explicit LayoutEditor(LayoutEditRequest request, QWidget *parent = nullptr);
    ~LayoutEditor() override;

    // The layout as edited so far.
    const ReportLayout &Layout() const { return layout_; }
    // Why the layout cannot be used, in the person's words; nothing when it can.
    std::optional<QString> Problem() const;
    // The checked layout once OK was accepted; nothing otherwise.
    const std::optional<ReportLayout> &Result() const { return result_; }

    void accept() override;
    // Esc and Cancelar: changes are thrown away only once the person agrees.
    void reject() override;
    void RefreshPreview();
    // Back to the layout the report was delivered with (when it was edited).
    void RestoreOriginal();
    // The report's words for a result column.
    QString FieldLabel(const std::string &field) const;
    // A group's text as the person reads it ("{Entrada/Saída}") and back
    // as the report keeps it ("{DSENTRSAIDA}").
    QString ShownTemplate(const std::string &text) const;
    std::string StoredTemplate(const QString &shown) const;

    // Where a refusal is told; a message box unless a test listens instead.
    void SetErrorSink(std::function<void(const QString &)> sink) { showError_ = std::move(sink); }
    // Where the yes/no question is asked; a message box unless a test answers.
    void SetQuestionSink(std::function<bool(const QString &)> sink) { ask_ = std::move(sink); }

    QTableWidget *ColumnTable() const { return columns_; }
    QTableWidget *GroupTable() const { return groups_; }
    // A button by name: columnUp, columnDown, columnAdd, columnRemove,
    // groupAdd, groupRemove, groupUp, groupDown, refresh, restore, zoomIn, zoomOut, fitWidth.
    QPushButton *Button(const char *name) const;
    QRadioButton *LandscapeButton() const { return landscape_; }
    QRadioButton *PortraitButton() const { return portrait_; }
    QComboBox *PageSizeBox() const { return pageSize_; }
    QPdfDocument *PreviewDocument() const { return previewDocument_; }
    QPdfView *PreviewView() const { return previewView_; }
    QString PreviewStatus() const;

    // Adds a column showing `field` after the last one, shaped after its name.
    void AddColumn(const std::string &field);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QWidget *BuildColumnsTab();
    QWidget *BuildGroupsTab();
    QWidget *BuildPageTab();
    QWidget *BuildPreview();
    void FillColumns(int selectRow = -1);
    void FillGroups(int selectRow = -1);
    void FillPage();
    void MoveColumn(int delta);
    void MoveGroup(int delta);
    void AddGroup();
    void RemoveGroup();
    void RemoveColumn();
    void Changed();
    void UpdateButtons();
    int SelectedRow(const QTableWidget *table) const;
    void SetTemplateItem(QTableWidgetItem *item, const std::string &text) const;
    qreal FittedZoom() const;

    LayoutEditRequest request_;
    ReportLayout layout_;
    std::optional<ReportLayout> result_;
    std::function<void(const QString &)> showError_;
    std::function<bool(const QString &)> ask_;
    QObject *wheelGuard_;

    QTableWidget *columns_ = nullptr;
    QTableWidget *groups_ = nullptr;
    QLabel *widthNote_ = nullptr;
    QRadioButton *portrait_ = nullptr;
    QRadioButton *landscape_ = nullptr;
    QComboBox *pageSize_ = nullptr;
    QCheckBox *summary_ = nullptr;
    QLineEdit *summaryCaption_ = nullptr;
    QLineEdit *emptyText_ = nullptr;
    QPdfDocument *previewDocument_ = nullptr;
    QPdfView *previewView_ = nullptr;
    QLabel *previewStatus_ = nullptr;
};
