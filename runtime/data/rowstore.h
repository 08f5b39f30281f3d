#pragma once
// Rows of text cells kept side by side: a data set of a million rows holds
// their text plus a few bytes per cell, not a string object per cell.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class RowStore {
public:
    explicit RowStore(std::size_t columns = 0) : columns_(columns) {}

    std::size_t Columns() const { return columns_; }
    std::size_t Rows() const { return rows_; }
    bool Empty() const { return rows_ == 0; }

    // `cells` has one entry per column; nullopt is NULL.
    void Append(const std::vector<std::optional<std::string>> &cells);
    // nullopt for NULL and outside the rows and columns. The view lives as
    // long as the row stays in the store.
    std::optional<std::string_view> Cell(std::size_t row, std::size_t column) const;

    // Drops every row but `row`, which becomes row 0, and gives the memory back.
    void KeepOnly(std::size_t row);
    // Drops every row and the columns, and gives the memory back.
    void Clear();

private:
    // A row is the end of each cell's text (from the row's text, kNull
    // marking NULL) followed by the text of its cells, in blocks that grow
    // up to a few megabytes; the rows' starts go in pages of a fixed size.
    // Neither moves once written, so growing copies nothing.
    static constexpr std::uint32_t kNull = 0x80000000u;
    static constexpr std::size_t kFirstBlock = 4096;
    static constexpr std::size_t kBlock = std::size_t(4) << 20;
    static constexpr std::size_t kPageBits = 12;
    static constexpr std::size_t kPage = std::size_t(1) << kPageBits;

    char *Reserve(std::size_t bytes);
    const char *RowStart(std::size_t row) const { return pages_[row >> kPageBits][row & (kPage - 1)]; }

    std::size_t columns_;
    std::size_t rows_ = 0;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char *free_ = nullptr;
    std::size_t freeBytes_ = 0;
    std::size_t nextBlock_ = kFirstBlock;
    std::vector<std::unique_ptr<const char *[]>> pages_;
};
